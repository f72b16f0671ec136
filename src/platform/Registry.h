#pragma once
// The current user's registry hive as Wine keeps it for Windows programs run on Linux:
// the text file $WINEPREFIX/user.reg (default ~/.wine/user.reg). Keys are written as
// "[Software\\Vendor\\Key] <time>" followed by their values ("name"=..., @=... for the
// default value; a value may run on over lines ending in a backslash) and a blank line.
//
// A RegistryHive reads the file once when made; DeleteKey and DeleteValue change the text
// in memory and Close writes it back in the same format, replacing the file in one step
// (a temporary file renamed over it), and only when something was deleted. Lines the
// hive does not touch are written back exactly as they were read. A missing file is an
// empty hive. Key and value names match without regard to case; key paths use single
// backslashes and may start with one. Not thread-safe; one hive object per command.
#include <string>
#include <vector>

namespace platform {

class RegistryHive {
public:
    // The hive of the current user: $WINEPREFIX/user.reg, else ~/.wine/user.reg.
    static std::string UserHivePath();

    explicit RegistryHive(std::string path);

    // Deletes the key (it must exist and have no subkeys, as the system requires).
    bool DeleteKey(const std::string& key);
    // True when the key exists; nothing is created.
    bool OpenKey(const std::string& key) const;
    // Deletes one value of an existing key.
    bool DeleteValue(const std::string& key, const std::string& name);
    // Writes the changes back; throws std::runtime_error("Unable to write to <path>")
    // when the file cannot be replaced (it is then left as it was).
    void Close();

private:
    struct Block {
        std::string name;               // unescaped key path, empty for the file's header
        std::vector<std::string> lines; // header line first, as read
    };
    std::vector<Block>::iterator Find(const std::string& key);

    std::string path_;
    std::vector<Block> blocks_;
    bool changed_ = false;
};

} // namespace platform
