// Copied into an unpacked package's bin folder by the install tests, beside the program:
// from there it looks the help up as the Help command does and runs the program's own WMA
// step on a WAV file as the job window does, so the test sees which help and which
// WM8EUTIL the program finds in that tree and that the step encodes.
//   install_probe <input.wav> <output.wma>
// Prints "help: <path>", "encoder: <path>" and, when the step has ended, "status: <n>";
// exits 0 when the helper ran to its end (status 2).
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/HelpFile.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/rip.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/ProgramFolder.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "support/MessageRecorder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_probe <input.wav> <output.wma>\n");
        return 2;
    }
    platform::TApplication app(argc, argv);
    std::printf("help: %s\n", app::FindHelpIndex(platform::ExecutableFolder()).c_str());
    std::printf("encoder: %s\n", jobs::TWMAEncodeProcess::FindEncoder().c_str());
    testsupport::MessageRecorder waiter;
    const auto status = [&waiter] { return waiter.LastStatus(settings::PI_WMA_ENDED); };
    waiter.onMessage = [&status](const testsupport::RecordedMessage&) -> std::intptr_t {
        if (status() >= 0) {
            QCoreApplication::quit();
        }
        return 0;
    };
    jobs::TWMAEncodeProcess wma;
    wma.Active = true;
    wma.NotifyWindow = &waiter;
    wma.InputFile = argv[1];
    wma.OutputFile = argv[2];
    wma.EncodeMode = true;
    wma.JobKind = jobs::jkWavToWma;
    QTimer::singleShot(0, [&wma] { wma.Start(); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(3); });
    if (status() < 0 && QCoreApplication::exec() == 3) {
        std::printf("timed out\n");
        return 3;
    }
    std::printf("status: %d\n", status());
    return status() == jobs::EncodeStatusEnded ? 0 : 1;
}
