#include "platform/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr auto npos = std::string::npos;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Names match without regard to ASCII letter case; the index keys are folded this way.
std::string Fold(std::string_view s) {
    std::string folded(s);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

// The same file, unchanged: any write changes the change time, which no one can set.
bool SameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::mutex ListingMutex;

// Whether the file's last change lies well before now. File times come from a coarse clock:
// a file changed again within the same tick keeps its times, so only a listing made after
// the tick is over can be known to be still right by them.
bool SettledBeforeNow(const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto ns = [](const timespec& t) {
        return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
    };
    constexpr long long margin = 100'000'000; // ns, well above any tick
    return ns(now) - std::max(ns(st.st_mtim), ns(st.st_ctim)) > margin;
}

// FNV-1a over the name with ASCII letters folded, as the names are matched.
std::uint32_t FoldedHash(std::string_view name) {
    std::uint32_t hash = 2166136261U;
    for (const char c : name) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        hash = (hash ^ static_cast<unsigned char>(lower)) * 16777619U;
    }
    return hash;
}

bool MatchesFolded(std::string_view name, const std::string& folded) {
    if (name.size() != folded.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != folded[i]) {
            return false;
        }
    }
    return true;
}

// The section name of a header line, or nullopt for other lines.
std::optional<std::string_view> SectionOf(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

std::optional<std::string_view> KeyOf(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == npos) {
        return std::nullopt;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty() || key.front() == ';') {
        return std::nullopt;
    }
    return key;
}

// Cuts to at most max bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string s, std::size_t max) {
    if (s.size() <= max) {
        return s;
    }
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        --end;
    }
    s.resize(end);
    return s;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

std::string ValueOf(std::string_view line) {
    return CutUtf8(std::string(Unquote(Trim(line.substr(line.find('=') + 1)))),
                   IniFile::MaxValueLength);
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        text.reserve(static_cast<std::size_t>(st.st_size) + 1); // room for a last line end
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

// Writes text with the CR of every CR LF left out (written files use LF only).
void WriteWithoutCarriageReturns(std::ostream& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t cr = text.find('\r'); cr != npos; cr = text.find('\r', cr + 1)) {
        if (cr + 1 < text.size() && text[cr + 1] == '\n') {
            out.write(text.data() + from, static_cast<std::streamsize>(cr - from));
            from = cr + 1;
        }
    }
    out.write(text.data() + from, static_cast<std::streamsize>(text.size() - from));
}
} // namespace

// A section of the file (its body lies between bodyBegin and bodyEnd of the text) or one
// new in this object (bodyBegin is npos), with the keys writes added to it.
struct IniFile::Section {
    std::string folded;
    std::string name; // the header of a new section
    std::size_t bodyBegin = npos;
    std::size_t bodyEnd = 0;
    bool indexed = false;
    std::size_t insertAt = 0; // after the body's last non-blank line: where new keys go
    std::unordered_map<std::string, std::size_t> keys;      // folded key -> first line's start
    std::vector<std::string> added;                         // lines of the keys added here
    std::unordered_map<std::string, std::size_t> addedKeys; // folded key -> index in added
};

// A read-only private mapping of a whole file.
struct IniFile::Mapping {
    void* data = nullptr;
    std::size_t size = 0;
    Mapping(void* d, std::size_t n) : data(d), size(n) {}
    ~Mapping() { ::munmap(data, size); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
};

IniFile::IniFile(std::string path) : IniFile(std::move(path), true) {}

IniFile::IniFile(std::string path, bool waitForListing) : path_(std::move(path)) {
    if (waitForListing) {
        WaitForListingAhead(path_);
    }
    Read();
    if (!headers_) {
        IndexSections();
    }
}

struct IniFile::Listing {
    std::string path;
    struct stat identity {};
    std::shared_ptr<const std::vector<Header>> headers;
};

IniFile::Listing& IniFile::LastListing() {
    static Listing listing;
    return listing;
}

namespace {

// The file being listed ahead and the end of that work (guarded by ListingMutex).
struct Ahead {
    std::string path;
    std::shared_future<void> done;
};

Ahead& AheadListing() {
    static Ahead ahead;
    return ahead;
}

} // namespace

void IniFile::WaitForListingAhead(const std::string& path) {
    std::shared_future<void> done;
    {
        const std::lock_guard<std::mutex> lock(ListingMutex);
        if (AheadListing().path == path) {
            done = AheadListing().done;
        }
    }
    if (done.valid()) {
        done.wait();
    }
}

void IniFile::ListAhead(const std::string& path) {
    // Made first, so that it outlives the task's holder at exit (whose end waits for it).
    LastListing();
    std::shared_future<void> previous;
    {
        const std::lock_guard<std::mutex> lock(ListingMutex);
        Ahead& ahead = AheadListing();
        if (ahead.path == path && ahead.done.valid()) {
            return;
        }
        previous = std::move(ahead.done); // waited for outside the lock: it takes the lock
        ahead.path = path;
        ahead.done = std::async(std::launch::async, [path] {
                         const IniFile listed(path, false); // keeps its listing as the last
                     }).share();
    }
}

IniFile::~IniFile() = default;

void IniFile::Read() {
    std::string_view text;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            const auto size = static_cast<std::size_t>(st.st_size);
            {
                const std::lock_guard<std::mutex> lock(ListingMutex);
                const Listing& last = LastListing();
                if (last.path == path_ && SameState(last.identity, st)) {
                    headers_ = last.headers;
                }
            }
            // A text that is scanned is read at once; a listed one only where it is used.
            const int populate = headers_ ? 0 : MAP_POPULATE;
            void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0);
            if (data != MAP_FAILED) {
                mapping_ = std::make_unique<Mapping>(data, size);
                read_ = st;
                text = std::string_view(static_cast<const char*>(data), size);
            }
        }
        ::close(fd);
    }
    if (!mapping_) {
        headers_.reset();
        cleaned_ = ReadWholeFile(path_); // not a plain file, or it could not be mapped
        text = cleaned_;
    }
    // Editors may put a UTF-8 byte-order mark in front of the first section header.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    // CR LF stays in the text (the parsing trims the CR) and is left out when it is written.
    if (text.empty() || text.back() == '\n') {
        text_ = text;
        return;
    }
    cleaned_ = std::string(text) + '\n';
    mapping_.reset();
    headers_.reset(); // never listed from a mapping: only a clean text's listing is kept
    text_ = cleaned_;
}

// One pass over the text for its header lines. Headers are rare, so the pass jumps from
// one "[" to the next and looks only at the lines that hold one.
void IniFile::IndexSections() {
    auto headers = std::make_shared<std::vector<Header>>();
    const char* const data = text_.data();
    const std::size_t size = text_.size();
    for (std::size_t pos = 0; pos < size;) {
        const void* bracket = std::memchr(data + pos, '[', size - pos);
        if (bracket == nullptr) {
            break;
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(bracket) - data);
        std::size_t lineBegin = at;
        while (lineBegin > 0 && IsBlank(data[lineBegin - 1]) && data[lineBegin - 1] != '\n') {
            --lineBegin;
        }
        // Every line of the text ends in '\n'.
        const auto lineEnd = static_cast<std::size_t>(
            static_cast<const char*>(std::memchr(data + at, '\n', size - at)) - data);
        pos = lineEnd + 1;
        if (lineBegin > 0 && data[lineBegin - 1] != '\n') {
            continue; // the "[" follows other text on its line
        }
        if (const auto name = SectionOf(text_.substr(lineBegin, lineEnd - lineBegin))) {
            headers->push_back({lineBegin, FoldedHash(*name)});
        }
    }
    headers_ = std::move(headers);
    if (mapping_ && SettledBeforeNow(read_)) {
        const std::lock_guard<std::mutex> lock(ListingMutex);
        LastListing() = Listing{path_, read_, headers_};
    }
}

// A section of the text comes before any new one: the text's are looked for among those
// used so far, then once among its headers (the first of a name is the one used; any header
// ends the section before it); the new ones last.
IniFile::Section* IniFile::FindSection(const std::string& name) const {
    const std::string folded = Fold(name);
    for (const auto& section : sections_) {
        if (section->bodyBegin != npos && section->folded == folded) {
            return section.get();
        }
    }
    if (std::find(absent_.begin(), absent_.end(), folded) == absent_.end()) {
        const std::vector<Header>& headers = *headers_;
        const std::uint32_t hash = FoldedHash(folded);
        for (std::size_t i = 0; i < headers.size(); ++i) {
            const Header& header = headers[i];
            if (header.nameHash != hash) {
                continue;
            }
            const std::string_view line = OriginalLine(header.lineBegin);
            const auto headerName = SectionOf(line);
            if (!headerName || !MatchesFolded(*headerName, folded)) {
                continue;
            }
            auto section = std::make_unique<Section>();
            section->folded = folded;
            section->bodyBegin = header.lineBegin + line.size() + 1;
            section->bodyEnd = i + 1 < headers.size() ? headers[i + 1].lineBegin : text_.size();
            sections_.push_back(std::move(section));
            return sections_.back().get();
        }
        absent_.push_back(folded);
    }
    for (const auto& section : sections_) {
        if (section->bodyBegin == npos && section->folded == folded) {
            return section.get();
        }
    }
    return nullptr;
}

std::string_view IniFile::OriginalLine(std::size_t begin) const {
    return std::string_view(text_.data() + begin, text_.find('\n', begin) - begin);
}

std::string_view IniFile::CurrentLine(std::size_t begin) const {
    const auto changed = changedLines_.find(begin);
    return changed == changedLines_.end() ? OriginalLine(begin) : std::string_view(changed->second);
}

void IniFile::IndexKeys(Section& section) const {
    if (section.indexed) {
        return;
    }
    section.indexed = true;
    if (section.bodyBegin == npos) {
        return;
    }
    section.insertAt = section.bodyBegin;
    for (std::size_t at = section.bodyBegin; at < section.bodyEnd;) {
        const std::string_view line = OriginalLine(at);
        const std::size_t next = at + line.size() + 1;
        if (!Trim(line).empty()) {
            section.insertAt = next;
        }
        if (const auto key = KeyOf(line)) {
            section.keys.try_emplace(Fold(*key), at);
        }
        at = next;
    }
}

std::optional<std::string> IniFile::Find(const std::string& section, const std::string& key) const {
    Section* found = FindSection(section);
    if (found == nullptr) {
        return std::nullopt;
    }
    IndexKeys(*found);
    const std::string folded = Fold(key);
    if (const auto it = found->keys.find(folded); it != found->keys.end()) {
        return ValueOf(CurrentLine(it->second));
    }
    if (const auto it = found->addedKeys.find(folded); it != found->addedKeys.end()) {
        return ValueOf(found->added[it->second]);
    }
    return std::nullopt;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    return Find(section, key).value_or(def);
}

std::optional<long long> IniFile::ParseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    int base = 10;
    std::string digits = text;
    bool negative = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits = text.substr(2);
    } else if (text[0] == '-') {
        negative = true;
        digits = text.substr(1);
    }
    if (digits.empty() || digits.size() > 18) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * base + d;
    }
    if (base == 16 && value > 0xFFFFFFFFLL) {
        return std::nullopt;
    }
    if (base == 16 && value > 0x7FFFFFFFLL) {
        value -= 0x100000000LL; // 32-bit hexadecimal wraps like the integer it encodes
    }
    return negative ? -value : value;
}

long long IniFile::ReadInteger(const std::string& section, const std::string& key,
                               long long def) const {
    const auto text = Find(section, key);
    if (!text) {
        return def;
    }
    return ParseInteger(*text).value_or(def);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    Section* target = FindSection(section);
    if (target == nullptr) {
        sections_.push_back(std::make_unique<Section>());
        target = sections_.back().get();
        // Found later by the name its header line gives, as when the file is read again.
        target->folded = Fold(*SectionOf("[" + section + "]"));
        target->name = section;
    }
    IndexKeys(*target);
    const std::string folded = Fold(key);
    if (const auto it = target->keys.find(folded); it != target->keys.end()) {
        // The key keeps the spelling it already has in the file.
        std::string line = std::string(*KeyOf(OriginalLine(it->second))) + "=" + value;
        if (line != CurrentLine(it->second)) {
            changedLines_[it->second] = std::move(line);
            changed_ = true;
        }
        return;
    }
    changed_ = true;
    if (const auto it = target->addedKeys.find(folded); it != target->addedKeys.end()) {
        target->added[it->second] = std::string(*KeyOf(target->added[it->second])) + "=" + value;
        return;
    }
    std::string line = key + "=" + value;
    if (const auto added = KeyOf(line)) {
        target->addedKeys.try_emplace(Fold(*added), target->added.size());
    }
    target->added.push_back(std::move(line));
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string IniFile::NewSectionsText() const {
    std::string text;
    for (const auto& section : sections_) {
        if (section->bodyBegin == npos) {
            text += '[' + section->name + "]\n";
            for (const auto& line : section->added) {
                text += line + '\n';
            }
        }
    }
    return text;
}

// When writes only added sections and the file is still the one that was read, byte for
// byte as the text (mapped, so no clean-up), the new sections are appended to it in place:
// a large file is not copied for a few lines. A failed append is cut off again.
bool IniFile::AppendNewSections() const {
    struct stat st {};
    if (!mapping_ || ::stat(path_.c_str(), &st) != 0 || !SameState(st, read_)) {
        return false;
    }
    const std::string text = NewSectionsText();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return false; // the whole file is written instead, and reports what fails
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    const bool ok = done == text.size();
    if (!ok && ::ftruncate(fd, st.st_size) != 0) {
        std::perror(("vellorine: cannot cut off a failed append to " + path_).c_str());
    }
    ::close(fd);
    if (!ok) {
        throw std::runtime_error("Unable to write to " + path_);
    }
    return true;
}

void IniFile::UpdateFile() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
        throw std::runtime_error("Unable to write to " + path_); // a read-only file stays as it is
    }
    // The text as read, with changed lines in place of their old text and added keys after
    // the last non-blank line of their section; new sections follow at the end.
    struct Edit {
        std::size_t at;
        std::size_t skip; // bytes of the text replaced
        const std::string* line;
        const Section* keys;
    };
    std::vector<Edit> edits;
    for (const auto& [at, line] : changedLines_) {
        edits.push_back({at, OriginalLine(at).size() + 1, &line, nullptr});
    }
    for (const auto& section : sections_) {
        if (section->bodyBegin != npos && !section->added.empty()) {
            edits.push_back({section->insertAt, 0, nullptr, section.get()});
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    if (edits.empty() && AppendNewSections()) {
        return;
    }

    const std::string temp = path_ + ".tmp";
    bool ok = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        const auto lines = [&out](const std::vector<std::string>& added) {
            for (const auto& line : added) {
                out << line << '\n';
            }
        };
        std::size_t from = 0;
        for (const Edit& edit : edits) {
            WriteWithoutCarriageReturns(out, text_.substr(from, edit.at - from));
            if (edit.line != nullptr) {
                out << *edit.line << '\n';
            } else {
                lines(edit.keys->added);
            }
            from = edit.at + edit.skip;
        }
        WriteWithoutCarriageReturns(out, text_.substr(from));
        out << NewSectionsText();
        out.flush();
        ok = static_cast<bool>(out);
    }
    if (ok) {
        ok = std::rename(temp.c_str(), path_.c_str()) == 0;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw std::runtime_error("Unable to write to " + path_);
    }
}

} // namespace platform
