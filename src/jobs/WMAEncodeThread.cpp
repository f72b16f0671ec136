#include "jobs/WMAEncodeThread.h"

#include <QApplication>
#include <QString>

#include <algorithm>

#include "jobs/OutputLines.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

namespace jobs {

std::unique_ptr<TWMAEncodeProcess> WmaProcess;

namespace {

constexpr const char* kEncoderName = "WM8EUTIL";
constexpr int kDefaultPreset = 8;

void ShowEncoderMissing() {
    const std::string text =
        std::string("Can not find WMA encoder,please contact with ") + WmaSupportAddress + "!";
    platform::TheDialogs().MessageBox(QApplication::activeWindow(), QString::fromStdString(text),
                                      QStringLiteral("Vellorine"), platform::MbIcon::Information,
                                      platform::MbButtons::Ok);
}

} // namespace

std::string TWMAEncodeProcess::FindEncoder() {
    std::string found = platform::FindBesideExecutable(kEncoderName, "../libexec/vellorine");
    if (found.empty()) {
        found = platform::FindProgram(kEncoderName);
    }
    return found;
}

std::string TWMAEncodeProcess::CommandLine(const std::string& encoder) const {
    const int preset = Preset >= 0 && Preset < settings::WmaPresetCount ? Preset : kDefaultPreset;
    // A folder with a blank would split the program word; quoting it changes nothing else.
    const bool needsQuotes = encoder.find_first_of(" \t") != std::string::npos;
    std::string line = needsQuotes ? "\"" + encoder + "\"" : encoder;
    line += " -input " + platform::QuoteArgument(InputFile);
    line += " -output " + platform::QuoteArgument(OutputFile);
    line += " -a_setting ";
    line += settings::WmaPresetCodes[static_cast<std::size_t>(preset)];
    if (Tags) {
        if (!Artist.empty()) {
            line += " -author " + Artist;
        }
        if (!Comment.empty()) {
            line += " -description " + Comment;
        }
    }
    return line;
}

bool TWMAEncodeProcess::PrepareCommandLine(std::string& commandLine) {
    const std::string encoder = FindEncoder();
    if (encoder.empty()) {
        ShowEncoderMissing();
        PostEnd(EncodeStatusDeclined);
        return false;
    }
    commandLine = CommandLine(encoder);
    return true;
}

void TWMAEncodeProcess::LaunchMonitor(std::shared_ptr<TEncoderRun> run) {
    TEncoderMonitor::Launch<TWMAEncodeThread>(this, std::move(run));
}

void TWMAEncodeProcess::ParseWmaLines(const std::string& text) {
    for (const std::string& line : NonBlankLines(text)) {
        if (line.find("ERROR") != std::string::npos) {
            // The failed child must not end the item a second time, nor the next one.
            ForgetRun();
            PostEnd(EncodeStatusErrorLine, line);
            return;
        }
        if (line.find("100%") != std::string::npos) {
            const std::string took = settings::MinSecText(std::max(1LL, SecondsSince(StartTime)));
            PostRecord(100, took, took);
        }
    }
}

void TWMAEncodeProcess::PostEnd(std::int32_t status, const std::string& text) {
    // Sent: the window has handled the end (and may have started the next item) when
    // this returns.
    settings::SendProcessInfo(
        NotifyWindow, settings::NewProcessInfo(settings::PI_WMA_ENDED, status, text), StepId);
}

} // namespace jobs
