#pragma once
// Helpers every test folder needs: a private scratch folder removed at the end, whole-file
// reads, running a shell command line while capturing what it prints, and waiting for what
// another thread or process brings about.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp dir, removed with everything in it when the object
// goes, read-only files and folders included.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Creates (or replaces) the file with exactly these bytes and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const;
    std::string WriteText(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

// The whole file; empty when it cannot be read.
Bytes ReadAll(const std::string& path);
std::string ReadText(const std::string& path);
// Every regular file under the folder, relative to it, in name order.
std::vector<std::string> FilesUnder(const std::filesystem::path& folder);

// Little-endian fields at a byte offset (out of range throws) and 16-bit samples, read
// here rather than through the program's own helpers, so a fault there cannot hide in a
// check of what it wrote.
std::uint16_t Le16(const Bytes& bytes, std::size_t at);
std::uint32_t Le32(const Bytes& bytes, std::size_t at);
std::vector<std::int16_t> S16Samples(const Bytes& bytes);

struct CommandResult {
    int ExitCode;       // -1 when the shell did not exit normally
    std::string Output; // standard output and standard error together
};
// Runs a shell command line to its end.
CommandResult RunCommand(const std::string& command);
// Quotes a word so that the shell passes it on unchanged as one argument.
std::string Quoted(const std::string& word);

// Checks condition every millisecond until it holds or timeout has passed; whether it holds.
// For what another thread or process brings about; a Qt test waiting for its own thread's
// events pumps them instead (PumpUntil in support/QtTestSupport.h).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

} // namespace testsupport
