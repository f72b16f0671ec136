// WM8EUTIL: the program's WMA encoder, run as a child process by the job window.
//   WM8EUTIL -input F -output F -a_setting B_R_C [-author words...] [-description words...]
// Console contract (the job window reads both pipes): progress lines "N%", the line
// "100%" once the file is complete, or one line containing "ERROR" and a non-zero exit.
// Nothing else printed may contain "ERROR" or "100%", so texts from the command line
// are never echoed except inside the error line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "wmaenc/CommandLine.h"
#include "wmaenc/Preset.h"
#include "wmaenc/SignalCleanup.h"
#include "wmaenc/WmaEncoder.h"

namespace {

void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int EncodeFile(const std::vector<std::string>& args) {
    const wmaenc::TEncodeRequest request = wmaenc::ParseCommandLine(args);
    const auto preset = wmaenc::FindPreset(request.Setting);
    if (!preset) {
        PrintLine("ERROR: unknown audio setting \"" + request.Setting + "\"");
        return 2;
    }
    wmaenc::TWmaEncoder encoder(request, *preset);
    encoder.Run([](int percent) { PrintLine(std::to_string(percent) + "%"); });
    PrintLine("100%");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The libraries' own messages would reach the same pipes; the error line says enough.
    av_log_set_level(AV_LOG_QUIET);
    wmaenc::InstallSignalCleanup();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return EncodeFile(args);
    } catch (const std::exception& e) {
        PrintLine(std::string("ERROR: ") + e.what());
    }
    return 1;
}
