#pragma once
// Scratch files for the tag tests: a private folder removed at the end, files made of
// given bytes, and a way to run an outside tool and capture what it prints.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tagtests {

using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string PathOf(const std::string& name) const;
    // Creates (or replaces) the file with exactly these bytes and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const;

private:
    std::filesystem::path root_;
};

Bytes ReadAll(const std::string& path);

// A 128-byte tag image: "TAG" then every field at its offset, the rest 0x00.
Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre);

struct CommandResult {
    int ExitCode;
    std::string Output; // standard output and standard error
};
CommandResult RunCommand(const std::string& command);

} // namespace tagtests
