#include "platform/UserFolders.h"

#include <QStandardPaths>

namespace platform {

std::string MusicFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation).toStdString();
}

} // namespace platform
