#pragma once
// A loopback server that a test runs as a child process (one of the helper scripts): the
// script prints "PORT <n>" on its standard output once it listens, and ends when its
// standard input closes, so it goes with the object even when a test fails half-way.
#include <string>

#include "platform/Process.h"

namespace testsupport {

class LoopbackServer {
public:
    // Starts `command` (a shell command line); throws when no port is announced within
    // 15 s. `what` names the server in that error.
    LoopbackServer(const std::string& command, const std::string& what);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    platform::Pipe input_;
    platform::Pipe output_;
    platform::TChildProcess child_;
    int port_ = 0;
};

} // namespace testsupport
