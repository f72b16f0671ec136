#include "settings/DiscHistory.h"

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"

namespace settings {

std::string DiscHistoryPath() {
    return platform::ProgramFolder() + "cdinfo.dat";
}

void ListDiscHistoryAhead() {
    platform::IniFile::ListAhead(DiscHistoryPath());
}

} // namespace settings
