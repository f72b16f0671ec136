#pragma once
// Child processes with redirected standard streams, and the pipes that carry them.
//
// Contract:
// - Every descriptor made here is close-on-exec; a child sees only the three standard
//   streams it was given (all other descriptors are closed in the child).
// - Failures return false (or an empty result) and leave the system error number in errno.
// - TChildProcess may be waited on from one thread while another terminates it; the child
//   is reaped exactly once, by whichever comes first. Destroying a TChildProcess whose
//   child still runs kills and reaps it, so no child outlives its owner unnoticed.
// - Command lines follow the Windows rules: blanks separate words, double quotes group
//   them, and backslashes are literal except in front of a double quote.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Owns one file descriptor and closes it when destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    int Release();
    void Reset(int fd = -1);
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// An anonymous pipe. The parent's read end is non-blocking so that a read never hangs.
struct Pipe {
    UniqueFd ReadEnd;
    UniqueFd WriteEnd;
};

// Creates a pipe whose ends are close-on-exec; nonBlockingRead makes the read end
// non-blocking.
bool CreatePipe(Pipe& pipe, bool nonBlockingRead);

// How many bytes are waiting in the pipe (the peek); false on failure.
bool PeekPipe(int fd, std::uint32_t& bytesAvailable);

// Reads exactly count bytes that a peek reported, without blocking. Fails (EAGAIN)
// rather than waiting when fewer bytes are there.
bool ReadPipe(int fd, std::size_t count, std::string& out);

// Splits a command line into words by the Windows rules. The first word (the program)
// ends at the first blank, or when it starts with a double quote, at the next one.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Encloses a word in double quotes so that SplitCommandLine gives it back unchanged.
std::string QuoteArgument(std::string_view word);

// Where a program started by name is found: the executable's folder, then PATH.
// A name with a "/" is taken as it is. Empty when there is no such executable file.
std::string FindProgram(const std::string& name);

// The standard streams a child gets.
struct StdHandles {
    int Input = -1;
    int Output = -1;
    int Error = -1;
};

class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts the program the command line names, with the given standard streams, the
    // program's environment and current folder. False (errno set) when it cannot start,
    // ENOENT when the program is not found. One child per object.
    bool Start(const std::string& commandLine, const StdHandles& handles);

    bool Started() const;
    pid_t Pid() const;
    // Waits up to timeout for the child to end; true once it has ended (and been reaped).
    bool WaitForExit(std::chrono::milliseconds timeout);
    bool Exited() const;
    // The exit status, or 128 + the signal number for a child ended by a signal.
    int ExitCode() const;
    // Kills a running child (SIGKILL) and reaps it; nothing when none runs.
    void Terminate();

private:
    bool TryReapLocked(int flags);

    mutable std::mutex mutex_;
    pid_t pid_ = 0;
    UniqueFd pidFd_;
    bool exited_ = false;
    int exitCode_ = 0;
};

} // namespace platform
