#include "platform/IniFile.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace platform {

namespace {
constexpr auto npos = std::string::npos;

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (std::tolower(ca) != std::tolower(cb)) {
            return false;
        }
    }
    return true;
}

// The section name of a header line, or nullopt for other lines.
std::optional<std::string> SectionOf(const std::string& line) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

std::optional<std::string> KeyOf(const std::string& line) {
    const auto eq = line.find('=');
    if (eq == npos) {
        return std::nullopt;
    }
    std::string key = Trim(line.substr(0, eq));
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

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}
} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // Editors may put a UTF-8 byte-order mark in front of the first section header.
        if (lines_.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            line.erase(0, 3);
        }
        lines_.push_back(line);
    }
}

IniFile::Location IniFile::Locate(const std::string& section, const std::string& key) const {
    Location loc{npos, npos, lines_.size()};
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (auto name = SectionOf(lines_[i])) {
            if (inSection) {
                break; // the first matching section is the one used
            }
            inSection = SameName(*name, section);
            if (inSection) {
                loc.sectionLine = i;
                loc.insertAt = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trim(lines_[i]).empty()) {
            loc.insertAt = i + 1;
        }
        if (auto k = KeyOf(lines_[i]); k && SameName(*k, key) && loc.keyLine == npos) {
            loc.keyLine = i;
        }
    }
    return loc;
}

std::optional<std::string> IniFile::Find(const std::string& section, const std::string& key) const {
    const Location loc = Locate(section, key);
    if (loc.keyLine == npos) {
        return std::nullopt;
    }
    const std::string& line = lines_[loc.keyLine];
    return CutUtf8(Unquote(Trim(line.substr(line.find('=') + 1))), MaxValueLength);
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
    const Location loc = Locate(section, key);
    const std::string line = key + "=" + value;
    if (loc.keyLine != npos) {
        // The key keeps the spelling it already has in the file.
        lines_[loc.keyLine] = *KeyOf(lines_[loc.keyLine]) + "=" + value;
    } else if (loc.sectionLine != npos) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(loc.insertAt), line);
    } else {
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
    }
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::UpdateFile() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
        throw std::runtime_error("Unable to write to " + path_); // a read-only file stays as it is
    }
    const std::string temp = path_ + ".tmp";
    bool ok = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            for (const auto& line : lines_) {
                out << line << '\n';
            }
            out.flush();
            ok = static_cast<bool>(out);
        }
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
