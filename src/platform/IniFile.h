#pragma once
// INI text files with the classic private-profile rules: section and key names match
// without regard to case, values are trimmed and unquoted and at most 2047 characters,
// a new key is appended to its section and a new section to the file, and the existing
// order of lines (comments included) is kept. Reads accept LF and CR LF and skip a UTF-8
// byte-order mark; writes use LF and no mark.
//
// The file is read once when the object is made (mapped, not copied, when its last line
// ends) and its section headers are listed in that one pass (or ahead, see ListAhead); a
// section's keys are
// indexed the first time the section is used, so no lookup scans the text again. The
// listing of the last file listed is kept while that file stays as it was (same file, size,
// modification and change times), so the same file read again is not scanned again.
//
// Writes are kept beside the text (changed lines, keys added to a section, new sections)
// and UpdateFile() streams the text with them, replacing the file in one step so that a
// failed write never leaves it half-written. When the writes only added sections and the
// file is unchanged since it was read, they are appended to it in place instead (a failed
// append is cut off again). A refused write throws
// std::runtime_error("Unable to write to <path>").
//
// One thread uses an object at a time (the key index is filled in by const lookups).
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

class IniFile {
public:
    explicit IniFile(std::string path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

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

    // Whether a write has changed the text since the file was read.
    bool Changed() const { return changed_; }
    void UpdateFile() const;

    // Lists the section headers of the file at `path` on a thread of its own, so that the
    // next IniFile of that file finds them listed (or waits for the rest of the listing)
    // instead of scanning the text itself: a large file's scan overlaps what the program
    // does before it needs the file. Does nothing when that file is being listed already.
    static void ListAhead(const std::string& path);

    static constexpr std::size_t MaxValueLength = 2047;
    static std::optional<long long> ParseInteger(const std::string& text);

private:
    struct Mapping;
    struct Section;
    // A section header of the text: where its line starts and a hash of its case-folded
    // name, so that looking a name up reads the text only where the hashes agree.
    struct Header {
        std::size_t lineBegin;
        std::uint32_t nameHash;
    };
    IniFile(std::string path, bool waitForListing);
    static void WaitForListingAhead(const std::string& path);

    struct Listing;
    static Listing& LastListing();
    void Read();
    std::string NewSectionsText() const;
    bool AppendNewSections() const;
    Section* FindSection(const std::string& name) const;
    void IndexKeys(Section& section) const;
    std::string_view OriginalLine(std::size_t begin) const;
    // The line as it stands now: changed by a write, or as read.
    std::string_view CurrentLine(std::size_t begin) const;
    void IndexSections();

    std::string path_;
    std::unique_ptr<Mapping> mapping_;
    struct stat read_ {};   // the file's identity and time when it was mapped
    std::string cleaned_;   // the text when its last line had no line end
    std::string_view text_; // as read: every line (the last too) ends in '\n'
    // Every section header of the text, in order; shared with the last listing kept.
    std::shared_ptr<const std::vector<Header>> headers_;
    // The sections used so far (of the text or new in this object, the new ones in the
    // order they were made), and the names the text does not have.
    mutable std::vector<std::unique_ptr<Section>> sections_;
    mutable std::vector<std::string> absent_;         // case-folded
    std::map<std::size_t, std::string> changedLines_; // line start in text_ -> new line
    bool changed_ = false;
};

} // namespace platform
