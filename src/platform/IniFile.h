#pragma once
// INI text files with the classic private-profile rules: section and key names match
// without regard to case, values are trimmed and unquoted and at most 2047 characters,
// a new key is appended to its section and a new section to the file, and the existing
// order of lines (comments included) is kept. Reads accept LF and CR LF and skip a UTF-8
// byte-order mark; writes use LF and no mark.
//
// The file is read once when the object is made; writes change the text in memory and
// UpdateFile() stores it, replacing the file in one step so that a failed write never
// leaves it half-written. A refused write throws std::runtime_error("Unable to write to
// <path>").
#include <optional>
#include <string>
#include <vector>

namespace platform {

class IniFile {
public:
    explicit IniFile(std::string path);

    const std::string& FileName() const { return path_; }

    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal, optionally negative; text of more than two characters starting with 0x
    // or 0X is hexadecimal; anything else gives def.
    long long ReadInteger(const std::string& section, const std::string& key, long long def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, long long value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    void UpdateFile() const;

    static constexpr std::size_t MaxValueLength = 2047;
    static std::optional<long long> ParseInteger(const std::string& text);

private:
    struct Location {
        std::size_t sectionLine = 0; // header line, or npos
        std::size_t keyLine = 0;     // key line, or npos
        std::size_t insertAt = 0;    // where a new key of this section goes
    };
    Location Locate(const std::string& section, const std::string& key) const;

    std::string path_;
    std::vector<std::string> lines_;
};

} // namespace platform
