#include "cli/Commands.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cd/DiscToc.h"
#include "cd/DiscVerifier.h"
#include "cd/HiddenTrack.h"
#include "cd/RipSummary.h"
#include "cli/ConsoleApplication.h"
#include "cli/DiscIds.h"
#include "cli/DiscSource.h"
#include "cli/FormatNames.h"
#include "cli/Interrupt.h"
#include "cli/JobDriver.h"
#include "cli/Outcome.h"
#include "jobs/JobPlan.h"
#include "settings/Global.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

constexpr auto kVerifyPoll = std::chrono::milliseconds(20);

void MakeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        throw TUsageError("cannot make the output folder " + folder);
    }
}

settings::TOutputFormat FormatOrThrow(const std::string& name) {
    const std::optional<settings::TOutputFormat> format = FormatNamed(name);
    if (!format) {
        throw TUsageError("no format \"" + name + "\": choose " + FormatChoices());
    }
    return *format;
}

// The options given on the command line, over the settings record.
void ApplyOverrides(const TArguments& a) {
    settings::TSettings& s = settings::Settings;
    if (!a.format.empty()) {
        s.CommonOptions.OutputFormat = FormatOrThrow(a.format);
    }
    if (!a.output.empty()) {
        s.CommonOptions.OutputFolder = fs::absolute(a.output).lexically_normal().string();
    }
    if (a.secure) {
        s.SecureRip.Enabled = true;
    }
    if (a.offset) {
        s.SecureRip.ReadOffset = *a.offset;
    }
    if (a.encoders) {
        s.Performance.Encoders = *a.encoders;
    }
}

void SaveSettingsIfAsked(const TArguments& a) {
    if (a.saveSettings) {
        settings::LoadSaveOptions(false);
    }
}

TDriverOptions DriverOptions(const TArguments& a, double audioSeconds) {
    TDriverOptions options;
    options.quiet = a.quiet;
    options.progressOnStderr = a.json;
    options.audioSeconds = audioSeconds;
    return options;
}

int Report(const TArguments& a, const TJobOutcome& outcome) {
    if (a.json) {
        std::printf("%s\n", OutcomeJson(CommandName(a.command), outcome).c_str());
    } else if (!a.quiet) {
        std::printf("%s", OutcomeText(outcome).c_str());
    }
    std::fflush(stdout);
    return ExitCodeOf(outcome);
}

// The items of a rip, as the window names them: the track's number and its title.
std::vector<std::string> RipItems(const std::vector<int>& tracks) {
    std::vector<std::string> items;
    for (int number : tracks) {
        std::string& title = settings::DiscInfo.Titles[static_cast<std::size_t>(number)];
        if (title.empty()) {
            title = "Track" + settings::TwoDigits(number);
        }
        items.push_back(settings::TwoDigits(number) + title);
    }
    return items;
}

std::vector<int> ChosenTracks(const TArguments& a, const TDiscSource& disc) {
    const std::vector<int> audio = disc.AudioTracks();
    if (a.tracks.empty()) {
        return audio;
    }
    for (int number : a.tracks) {
        if (std::find(audio.begin(), audio.end(), number) == audio.end()) {
            throw TUsageError("the disc has no audio track " + std::to_string(number));
        }
    }
    return a.tracks;
}

// The kind of job that turns a file of this name into the format.
jobs::TJobKind ConvertKind(const std::string& file, settings::TOutputFormat format) {
    std::string extension = fs::path(file).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    using settings::TOutputFormat;
    struct Conversion {
        const char* from;
        TOutputFormat to;
        jobs::TJobKind kind;
    };
    static constexpr Conversion kConversions[] = {
        {".wav", TOutputFormat::ofMp3, jobs::jkWavToMp3},
        {".wav", TOutputFormat::ofOgg, jobs::jkWavToOgg},
        {".wav", TOutputFormat::ofWma, jobs::jkWavToWma},
        {".mp3", TOutputFormat::ofWav, jobs::jkMp3ToWav},
        {".wav", TOutputFormat::ofFlac, jobs::jkWavToFlac},
        {".wav", TOutputFormat::ofOpus, jobs::jkWavToOpus},
        {".flac", TOutputFormat::ofWav, jobs::jkFlacToWav},
    };
    for (const Conversion& c : kConversions) {
        if (extension == c.from && format == c.to) {
            return c.kind;
        }
    }
    throw TUsageError("cannot convert " + file + " to " + settings::FormatRow(format)->Extension +
                      " (WAV to mp3, ogg, wma, flac or opus, MP3 or FLAC to wav)");
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The layout of the disc a folder of WAV files was ripped from.
cd::RipDisc VerifiedDisc(const TArguments& a, const std::string& folder) {
    std::string log = a.log;
    if (log.empty() && a.image.empty() && a.drive.empty()) {
        std::vector<std::string> logs;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("rip-", 0) == 0 && entry.path().extension() == ".log") {
                logs.push_back(entry.path().string());
            }
        }
        if (logs.size() == 1) {
            log = logs.front();
        }
    }
    if (!log.empty()) {
        const std::optional<cd::RipDisc> disc = cd::ReadRipLogDisc(ReadText(log));
        if (!disc) {
            throw TUsageError(log + " is not a rip log");
        }
        return *disc;
    }
    if (!a.image.empty()) {
        std::string error;
        const std::optional<cd::RipDisc> disc = cd::ReadCueSheetDisc(a.image, error);
        if (!disc) {
            throw TUsageError(error.empty() ? a.image + " is not a cue sheet" : error);
        }
        return *disc;
    }
    const TDiscSource source("", a.drive);
    return source.Disc();
}

cd::VerifyOptions VerifyOptionsFromSettings() {
    const settings::TSecureRip& s = settings::Settings.SecureRip;
    cd::VerifyOptions options;
    options.accurateRipServer = s.AccurateRipServer;
    options.ctdbServer = s.CTDBServer;
    options.lookup.proxy = settings::Settings.QueryCDDB.Proxy();
    return options;
}

// Runs the check on a worker while this thread's event loop stays free for Ctrl+C.
cd::VerifyReport RunVerifier(const cd::DiscVerifier& verifier, TInterrupt& interrupt) {
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    cd::VerifyReport report;
    std::thread worker([&] {
        report = verifier.Run(stop);
        finished = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished) {
            loop.quit();
        }
    });
    interrupt.SetAction([&stop] { stop = true; });
    poll.start(kVerifyPoll);
    if (!interrupt.Requested()) {
        loop.exec();
    }
    stop = stop || interrupt.Requested();
    worker.join();
    interrupt.SetAction({});
    return report;
}

// The audio the rip reads, for the rate the progress shows: the whole disc in single-file
// mode, else the chosen tracks, and the audio before track 1 when it is ripped as well.
double RipSeconds(const TDiscSource& disc, const std::vector<int>& tracks, bool singleFile,
                  bool hidden) {
    if (singleFile) {
        return disc.WholeDiscSeconds();
    }
    double seconds = hidden ? disc.HiddenSeconds() : 0.0;
    for (int number : tracks) {
        seconds += disc.Seconds(number);
    }
    return seconds;
}

} // namespace

int RunRip(const TArguments& a, TContext& context) {
    ApplyOverrides(a);
    const settings::TCommonOptions& common = settings::Settings.CommonOptions;
    if (common.EnableRipTime && common.RipTime == 0) {
        throw TUsageError("options.ini limits the rip to 0 seconds a track");
    }
    const TDiscSource disc(a.image, a.drive);
    const std::vector<int> tracks = ChosenTracks(a, disc);
    MakeFolder(common.OutputFolder);
    settings::LoadSaveDiscInfo(settings::DiscKey(), true);
    SaveSettingsIfAsked(a);
    jobs::TJobSettings settings = jobs::SnapshotSettings();
    const int handle = disc.Handle();
    std::vector<std::string> items = jobs::WithHiddenTrack(
        RipItems(tracks), settings, [handle] { return cd::HiddenTrackFrames(handle) > 0; });
    const double seconds =
        RipSeconds(disc, tracks, settings.Naming.SingleFile, items.size() > tracks.size());
    auto plan =
        std::make_unique<jobs::TJobPlan>(jobs::jkExtract, std::move(items), std::move(settings));
    TJobDriver driver(context.app, context.interrupt, DriverOptions(a, seconds));
    return Report(a, driver.Run(std::move(plan), disc.Handle()));
}

int RunConvert(const TArguments& a, TContext& context) {
    ApplyOverrides(a);
    const settings::TOutputFormat format = FormatOrThrow(a.format);
    // Consecutive files of the same kind go in one job, as the window converts a choice.
    std::vector<std::pair<jobs::TJobKind, std::vector<std::string>>> jobsToRun;
    for (const std::string& file : a.files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            throw TUsageError("no file " + file);
        }
        const jobs::TJobKind kind = ConvertKind(file, format);
        if (jobsToRun.empty() || jobsToRun.back().first != kind) {
            jobsToRun.push_back({kind, {}});
        }
        jobsToRun.back().second.push_back(fs::absolute(file).lexically_normal().string());
    }
    MakeFolder(settings::Settings.CommonOptions.OutputFolder);
    SaveSettingsIfAsked(a);
    TJobOutcome all;
    for (auto& [kind, files] : jobsToRun) {
        auto plan = std::make_unique<jobs::TJobPlan>(kind, files, jobs::SnapshotSettings());
        TJobDriver driver(context.app, context.interrupt, DriverOptions(a, 0));
        TJobOutcome outcome = driver.Run(std::move(plan), 0);
        all.items.insert(all.items.end(), outcome.items.begin(), outcome.items.end());
        if (outcome.interrupted) {
            all.interrupted = true;
            break;
        }
    }
    return Report(a, all);
}

int RunVerify(const TArguments& a, TContext& context) {
    const std::string folder = a.files.front();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw TUsageError("no folder " + folder);
    }
    const cd::RipDisc disc = VerifiedDisc(a, folder);
    const cd::DiscVerifier verifier(disc, folder, VerifyOptionsFromSettings());
    const cd::VerifyReport report = RunVerifier(verifier, context.interrupt);
    TJobOutcome outcome;
    outcome.interrupted = context.interrupt.Requested();
    for (const cd::VerifyTrack& track : report.tracks) {
        TItemResult r;
        r.track = track.number;
        r.input = track.file;
        r.output = track.file.empty() ? "" : (fs::path(folder) / track.file).string();
        r.detail = cd::VerifyStatusText(track);
        r.status = track.status == cd::VerifyStatus::Verified ? "ok" : "not verified";
        outcome.items.push_back(r);
        if (!a.quiet && !a.json) {
            std::printf("track %02d  %s  %s\n", track.number,
                        track.file.empty() ? "-" : track.file.c_str(), r.detail.c_str());
        }
    }
    if (report.ctdb.verdict != cd::CtdbVerdict::Off) {
        outcome.disc = cd::DiscResultText(report.ctdb);
    }
    if (!a.json && !a.quiet) {
        for (TItemResult& r : outcome.items) {
            r.detail.clear(); // already printed per track
        }
    }
    return Report(a, outcome);
}

int RunInfo(const TArguments& a, TContext&) {
    const TDiscSource source(a.image, a.drive);
    settings::LoadSaveDiscInfo(settings::DiscKey(), true);
    const TDiscIds ids = DiscIdsOf(source.Disc());
    if (a.json) {
        std::printf("%s\n", DiscInfoJson(source.Disc(), ids, settings::DiscInfo).c_str());
    } else {
        std::printf("%s",
                    DiscInfoText(source.Name(), source.Disc(), ids, settings::DiscInfo).c_str());
    }
    std::fflush(stdout);
    return kExitOk;
}

} // namespace cli
