#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/ProgramFolder.h"

extern char** environ;

namespace platform {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        const int saved = errno; // closing must not hide the error being reported
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

bool CreatePipe(Pipe& pipe, bool nonBlockingRead) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.ReadEnd.Reset(fds[0]);
    pipe.WriteEnd.Reset(fds[1]);
    if (nonBlockingRead) {
        const int flags = ::fcntl(fds[0], F_GETFL);
        if (flags < 0 || ::fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) != 0) {
            return false;
        }
    }
    return true;
}

bool PeekPipe(int fd, std::uint32_t& bytesAvailable) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0) {
        return false;
    }
    bytesAvailable = static_cast<std::uint32_t>(count);
    return true;
}

bool ReadPipe(int fd, std::size_t count, std::string& out) {
    out.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, out.data() + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            errno = EPIPE; // the writer is gone before the promised bytes came
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    out.resize(done);
    return done == count;
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The program word: no backslash handling, quotes only delimit it.
std::size_t SplitProgramWord(std::string_view line, std::vector<std::string>& words) {
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    if (i == line.size()) {
        return i;
    }
    std::string word;
    if (line[i] == '"') {
        ++i;
        while (i < line.size() && line[i] != '"') {
            word += line[i++];
        }
        if (i < line.size()) {
            ++i;
        }
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            word += line[i++];
        }
    }
    words.push_back(std::move(word));
    return i;
}

// Backslashes at line[i...]: 2n before a quote give n and leave the quote to act,
// 2n+1 give n and a literal quote; before anything else they are literal.
std::size_t TakeBackslashes(std::string_view line, std::size_t i, std::string& word) {
    std::size_t n = 0;
    while (i + n < line.size() && line[i + n] == '\\') {
        ++n;
    }
    const bool beforeQuote = i + n < line.size() && line[i + n] == '"';
    if (!beforeQuote) {
        word.append(n, '\\');
        return i + n;
    }
    word.append(n / 2, '\\');
    if (n % 2 == 1) {
        word += '"';
        return i + n + 1;
    }
    return i + n;
}

std::size_t SplitWord(std::string_view line, std::size_t i, std::string& word) {
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
        const char c = line[i];
        if (c == '\\') {
            i = TakeBackslashes(line, i, word);
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                word += '"'; // "" inside quotes is one literal quote
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            word += c;
            ++i;
        }
    }
    return i;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t i = SplitProgramWord(commandLine, words);
    while (i < commandLine.size()) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i == commandLine.size()) {
            break;
        }
        std::string word;
        i = SplitWord(commandLine, i, word);
        words.push_back(std::move(word));
    }
    return words;
}

std::string QuoteArgument(std::string_view word) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\'); // the closing quote must stay a quote
    out += '"';
    return out;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const std::string beside = ExecutableFolder() + name;
    if (IsExecutableFile(beside)) {
        return beside;
    }
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        if (dir.empty()) {
            continue;
        }
        std::string candidate(dir);
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int Prepare(const StdHandles& handles) {
        int rc = posix_spawn_file_actions_adddup2(&actions, handles.Input, STDIN_FILENO);
        if (rc == 0) {
            rc = posix_spawn_file_actions_adddup2(&actions, handles.Output, STDOUT_FILENO);
        }
        if (rc == 0) {
            rc = posix_spawn_file_actions_adddup2(&actions, handles.Error, STDERR_FILENO);
        }
        if (rc == 0) {
            rc = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        }
        // The child starts with default signal handling and nothing blocked, whatever
        // the calling thread had (an ignored SIGPIPE would keep it from dying on a
        // closed pipe).
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        if (rc == 0) {
            rc = posix_spawnattr_setsigmask(&attributes, &none);
        }
        if (rc == 0) {
            rc = posix_spawnattr_setsigdefault(&attributes, &all);
        }
        if (rc == 0) {
            rc = posix_spawnattr_setflags(&attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        }
        return rc;
    }
};

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

} // namespace

TChildProcess::~TChildProcess() {
    Terminate();
}

bool TChildProcess::Start(const std::string& commandLine, const StdHandles& handles) {
    std::lock_guard lock(mutex_);
    if (pid_ != 0) {
        errno = EBUSY;
        return false;
    }
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty() || words[0].empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string program = FindProgram(words[0]);
    if (program.empty()) {
        errno = ENOENT;
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& w : words) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    int rc = setup.Prepare(handles);
    pid_t pid = 0;
    if (rc == 0) {
        rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                         environ);
    }
    if (rc != 0) {
        errno = rc;
        return false;
    }
    pid_ = pid;
    exited_ = false;
    // Until we reap it the pid stays ours, so opening the pidfd afterwards is safe.
    // Without pidfds WaitForExit falls back to polling.
    pidFd_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    return true;
}

bool TChildProcess::Started() const {
    std::lock_guard lock(mutex_);
    return pid_ != 0;
}

pid_t TChildProcess::Pid() const {
    std::lock_guard lock(mutex_);
    return pid_;
}

bool TChildProcess::Exited() const {
    std::lock_guard lock(mutex_);
    return exited_;
}

int TChildProcess::ExitCode() const {
    std::lock_guard lock(mutex_);
    return exitCode_;
}

bool TChildProcess::TryReapLocked(int flags) {
    if (pid_ == 0 || exited_) {
        return exited_;
    }
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, flags);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        exited_ = true;
        exitCode_ = DecodeStatus(status);
    } else if (r < 0 && errno == ECHILD) {
        exited_ = true; // someone else reaped it; it is gone all the same
        exitCode_ = -1;
    }
    return exited_;
}

bool TChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    {
        std::lock_guard lock(mutex_);
        if (pid_ == 0) {
            return false;
        }
        if (TryReapLocked(WNOHANG)) {
            return true;
        }
    }
    if (pidFd_) {
        pollfd p{pidFd_.Get(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(timeout.count()));
        std::lock_guard lock(mutex_);
        return TryReapLocked(WNOHANG);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (TryReapLocked(WNOHANG)) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TChildProcess::Terminate() {
    std::lock_guard lock(mutex_);
    if (pid_ == 0 || TryReapLocked(WNOHANG)) {
        return;
    }
    // Not reaped yet, so the pid cannot have been reused.
    ::kill(pid_, SIGKILL);
    TryReapLocked(0);
}

} // namespace platform
