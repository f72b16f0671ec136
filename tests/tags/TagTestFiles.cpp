#include "TagTestFiles.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace tagtests {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tagtest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    root_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Restore write permission so read-only fixtures can be removed.
    for (const auto& entry : std::filesystem::directory_iterator(root_, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(root_, ignored);
}

std::string ScratchFolder::PathOf(const std::string& name) const {
    return (root_ / name).string();
}

std::string ScratchFolder::Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre) {
    Bytes tag(128, 0x00);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    auto put = [&tag](std::size_t at, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            tag[at + i] = std::uint8_t(text[i]);
        }
    };
    put(3, title);
    put(33, artist);
    put(63, album);
    put(93, year);
    for (std::size_t i = 0; i < comment30.size() && i < 30; ++i) {
        tag[97 + i] = comment30[i];
    }
    tag[127] = genre;
    return tag;
}

CommandResult RunCommand(const std::string& command) {
    const std::string withErrors = command + " 2>&1";
    FILE* pipe = ::popen(withErrors.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string output;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace tagtests
