#include "jobs/WriteCause.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace jobs {

namespace {

// Closes the probe's descriptor however the probe ends.
class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::string ErrorText(int error) {
    return error == 0 ? std::string() : std::generic_category().message(error);
}

std::string WriteCause(const std::string& path) {
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    const TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd.Get() < 0) {
        return ErrorText(errno);
    }
    // A full disk lets the file open; only a write finds out.
    const char probe = 0;
    int error = 0;
    if (::write(fd.Get(), &probe, 1) != 1) {
        error = errno;
    }
    if (!existed) {
        ::unlink(path.c_str());
    } else if (S_ISREG(before.st_mode)) {
        (void)::ftruncate(fd.Get(), before.st_size);
    }
    return ErrorText(error);
}

} // namespace jobs
