#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace platform {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Wine escapes backslashes and quotes in names with a backslash.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
        }
        out += text[i];
    }
    return out;
}

std::string NormalKey(const std::string& key) {
    std::string k = key;
    while (!k.empty() && k.front() == '\\') {
        k.erase(0, 1);
    }
    while (!k.empty() && k.back() == '\\') {
        k.pop_back();
    }
    return Lower(k);
}

// "[Software\\Key] 1700000000" -> "software\key"; empty for other lines.
std::string KeyOfHeader(const std::string& line) {
    const std::size_t close = line.rfind(']');
    if (line.empty() || line.front() != '[' || close == std::string::npos) {
        return {};
    }
    return NormalKey(Unescape(line.substr(1, close - 1)));
}

// The value name of a line ("@" for the default value); empty for other lines.
std::string ValueNameOf(const std::string& line) {
    if (line.rfind("@=", 0) == 0) {
        return "@";
    }
    if (line.empty() || line.front() != '"') {
        return {};
    }
    std::size_t i = 1;
    while (i < line.size() && line[i] != '"') {
        i += line[i] == '\\' ? 2U : 1U;
    }
    if (i >= line.size() || i + 1 >= line.size() || line[i + 1] != '=') {
        return {};
    }
    return Lower(Unescape(line.substr(1, i - 1)));
}

} // namespace

std::string RegistryHive::UserHivePath() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && *prefix != '\0') {
        return std::string(prefix) + "/user.reg";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine/user.reg";
}

RegistryHive::RegistryHive(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_, std::ios::binary);
    blocks_.push_back({});
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') {
            blocks_.push_back({KeyOfHeader(line), {}});
        }
        blocks_.back().lines.push_back(line);
    }
}

std::vector<RegistryHive::Block>::iterator RegistryHive::Find(const std::string& key) {
    const std::string wanted = NormalKey(key);
    return std::find_if(blocks_.begin() + 1, blocks_.end(),
                        [&](const Block& b) { return !wanted.empty() && b.name == wanted; });
}

bool RegistryHive::DeleteKey(const std::string& key) {
    const auto found = Find(key);
    if (found == blocks_.end()) {
        return false;
    }
    const std::string prefix = found->name + "\\";
    const bool hasSubkeys = std::any_of(blocks_.begin() + 1, blocks_.end(), [&](const Block& b) {
        return b.name.compare(0, prefix.size(), prefix) == 0;
    });
    if (hasSubkeys) {
        return false;
    }
    blocks_.erase(found);
    changed_ = true;
    return true;
}

bool RegistryHive::OpenKey(const std::string& key) const {
    return const_cast<RegistryHive*>(this)->Find(key) != blocks_.end();
}

bool RegistryHive::DeleteValue(const std::string& key, const std::string& name) {
    const auto found = Find(key);
    if (found == blocks_.end()) {
        return false;
    }
    const std::string wanted = name.empty() ? "@" : Lower(name);
    std::vector<std::string>& lines = found->lines;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (ValueNameOf(lines[i]) != wanted) {
            continue;
        }
        // Long values go on over lines ending in a backslash.
        std::size_t last = i;
        while (last + 1 < lines.size() && !lines[last].empty() && lines[last].back() == '\\') {
            ++last;
        }
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                    lines.begin() + static_cast<std::ptrdiff_t>(last + 1));
        changed_ = true;
        return true;
    }
    return false;
}

void RegistryHive::Close() {
    if (!changed_) {
        return;
    }
    struct stat st {};
    const bool existed = ::stat(path_.c_str(), &st) == 0;
    if (existed && (st.st_mode & S_IWUSR) == 0) {
        throw std::runtime_error("Unable to write to " + path_); // a read-only hive stays
    }
    const std::string temp = path_ + ".vellorine-tmp";
    bool ok = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            for (const Block& block : blocks_) {
                for (const std::string& line : block.lines) {
                    out << line << '\n';
                }
            }
            out.flush();
            ok = static_cast<bool>(out);
        }
    }
    if (ok && existed) {
        ok = ::chmod(temp.c_str(), st.st_mode & 07777) == 0;
    }
    if (ok) {
        ok = std::rename(temp.c_str(), path_.c_str()) == 0;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw std::runtime_error("Unable to write to " + path_);
    }
    changed_ = false;
}

} // namespace platform
