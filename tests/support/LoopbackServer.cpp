#include "support/LoopbackServer.h"

#include "support/TestSupport.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

std::string ReadPortLine(int fd) {
    std::string text;
    WaitUntil(
        [&] {
            std::uint32_t available = 0;
            std::string chunk;
            if (platform::PeekPipe(fd, available) && available > 0) {
                platform::ReadPipe(fd, available, chunk);
                text += chunk; // the line may come in pieces
            }
            return text.find('\n') != std::string::npos;
        },
        std::chrono::seconds(15));
    return text;
}

} // namespace

LoopbackServer::LoopbackServer(const std::string& command, const std::string& what) {
    if (!platform::CreatePipe(input_, false) || !platform::CreatePipe(output_, true)) {
        throw std::runtime_error("pipes for the " + what + " server");
    }
    platform::StdHandles handles;
    handles.Input = input_.ReadEnd.Get();
    handles.Output = output_.WriteEnd.Get();
    handles.Error = STDERR_FILENO;
    if (!child_.Start(command, handles)) {
        throw std::runtime_error("cannot start " + command);
    }
    input_.ReadEnd.Reset();
    output_.WriteEnd.Reset();
    const std::string line = ReadPortLine(output_.ReadEnd.Get());
    if (std::sscanf(line.c_str(), "PORT %d", &port_) != 1 || port_ <= 0) {
        throw std::runtime_error("the " + what + " server did not start: " + line);
    }
}

LoopbackServer::~LoopbackServer() {
    input_.WriteEnd.Reset(); // the server ends when its standard input closes
    if (!child_.WaitForExit(std::chrono::seconds(3))) {
        child_.Terminate();
    }
}

} // namespace testsupport
