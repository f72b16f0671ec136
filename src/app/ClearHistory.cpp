#include "app/ClearHistory.h"

#include "platform/Registry.h"

namespace app {

int ClearRealPlayerHistory(const std::string& hivePath) {
    platform::RegistryHive hive(hivePath);
    int count = 0;
    for (int n = 1; n <= 8; ++n) {
        if (!hive.DeleteKey("\\Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\"
                            "MostRecentClips" +
                            std::to_string(n))) {
            break;
        }
        ++count;
    }
    hive.Close();
    return count;
}

int ClearMediaPlayerHistory(const std::string& hivePath) {
    const std::string key = "\\Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList\\";
    platform::RegistryHive hive(hivePath);
    if (!hive.OpenKey(key)) {
        return 0;
    }
    int count = 0;
    for (int n = 0; n <= 8; ++n) {
        if (!hive.DeleteValue(key, "File" + std::to_string(n))) {
            break;
        }
        ++count;
    }
    hive.Close();
    return count;
}

} // namespace app
