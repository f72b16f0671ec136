#include "cd/CddbServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace cdtest {

namespace {

constexpr int LeadIn = 150;

int DigitSum(int n) {
    int sum = 0;
    for (; n > 0; n /= 10) {
        sum += n % 10;
    }
    return sum;
}

std::string ServerCommand(const std::string& recordsDir, const std::vector<std::string>& extraArgs,
                          const std::string& log) {
    std::string command =
        "python3 " + platform::QuoteArgument(VELLORINE_SOURCE_DIR "/scripts/cddb-test-server") +
        " --records " + platform::QuoteArgument(recordsDir) + " --log " +
        platform::QuoteArgument(log) + " --idle 300";
    for (const std::string& arg : extraArgs) {
        command += " " + platform::QuoteArgument(arg);
    }
    return command;
}

} // namespace

CddbServer::CddbServer(const std::string& recordsDir, const std::vector<std::string>& extraArgs)
    : server_(ServerCommand(recordsDir, extraArgs, dir_.File("requests.log")), "CDDB") {}

std::vector<std::string> CddbServer::Requests() const {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::ReadText(dir_.File("requests.log")));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::uint32_t PublishedDiscId(const std::vector<int>& frames) {
    // Track starts as minute/second/frame, summed over the digits of min*60+sec.
    int n = 0;
    int start = LeadIn;
    for (const int length : frames) {
        const int minutes = start / 75 / 60;
        const int seconds = start / 75 % 60;
        n += DigitSum(minutes * 60 + seconds);
        start += length;
    }
    const int leadOutSeconds = start / 75;
    const int firstSeconds = LeadIn / 75;
    const auto t = static_cast<std::uint32_t>(leadOutSeconds - firstSeconds);
    return (static_cast<std::uint32_t>(n % 0xff) << 24) | (t << 8) |
           static_cast<std::uint32_t>(frames.size());
}

std::string HexId(std::uint32_t id) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", id);
    return text;
}

std::string XmcdRecord(const std::vector<int>& frames, const std::string& lines) {
    std::string record = "# xmcd CD database file\n#\n# Track frame offsets:\n";
    int start = LeadIn;
    for (const int length : frames) {
        record += "#\t" + std::to_string(start) + "\n";
        start += length;
    }
    record += "#\n# Disc length: " + std::to_string(start / 75) + " seconds\n#\n";
    return record + "DISCID=" + HexId(PublishedDiscId(frames)) + "\n" + lines;
}

void WriteRecord(const testsupport::ScratchFolder& records, const std::string& category,
                 const std::string& discId, const std::string& bytes) {
    std::filesystem::create_directories(records.File(category));
    records.WriteText(category + "/" + discId, bytes);
}

} // namespace cdtest
