#pragma once
// Shared pieces of the encoder tests: the application and its GUI dispatcher, a window
// that collects the records it receives, temporary folders and WAV fixtures made by sox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/EncoderProcess.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "support/TestSupport.h"

namespace jobs_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "jobs_tests";
    static char* argv[] = {name, nullptr};
    static platform::TApplication app(argc, argv); // installs the Synchronize dispatcher
}

// Runs the event loop until done() holds or the time is up (sleeping, not spinning: the
// encoders under test need the CPU).
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = 30000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || std::chrono::steady_clock::now() > deadline) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    return done();
}

inline void PumpFor(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
}

// Stands in for the job window: keeps a copy of every record and frees it.
class RecordingWindow : public QObject, public platform::MessageReceiver {
public:
    std::vector<settings::TProcessInfo> records;
    // Called for every end event (2000, 5000), as the job window starts the next item there.
    std::function<void(const settings::TProcessInfo&)> onEnd;

    bool event(QEvent* e) override { return DispatchMessageEvent(e) || QObject::event(e); }

    std::intptr_t HandleMessage(unsigned msg, std::intptr_t, std::intptr_t lParam) override {
        if (msg != settings::WM_PROGRESS) {
            return 0;
        }
        std::unique_ptr<settings::TProcessInfo> info(
            reinterpret_cast<settings::TProcessInfo*>(lParam));
        records.push_back(*info);
        if (info->Code >= 2000 && onEnd) {
            onEnd(*info);
        }
        return 0;
    }

    std::vector<settings::TProcessInfo> Ends() const {
        std::vector<settings::TProcessInfo> ends;
        for (const auto& r : records) {
            if (r.Code >= 2000) {
                ends.push_back(r);
            }
        }
        return ends;
    }
    std::vector<int> Percentages() const {
        std::vector<int> p;
        for (const auto& r : records) {
            if (r.Code <= 100) {
                p.push_back(r.Code);
            }
        }
        return p;
    }
};

// A fresh folder per test (removed with the fixture), with PATH and the scripted dialogs restored
// afterwards.
class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        const char* path = std::getenv("PATH");
        oldPath = path != nullptr ? path : "";
        auto scripted = std::make_unique<platform::ScriptedDialogs>();
        dialogs = scripted.get();
        oldDialogs = platform::InstallDialogs(std::move(scripted));
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
    }

    void TearDown() override {
        // Every monitor must have left by now: none may outlive its step.
        EXPECT_TRUE(PumpUntil([] { return jobs::TEncoderMonitor::Running() == 0; }, 5000ms));
        ::setenv("PATH", oldPath.c_str(), 1);
        platform::InstallDialogs(std::move(oldDialogs));
    }

    std::string Path(const std::string& name) const { return scratch.File(name); }

    // A 16-bit stereo 44.1 kHz sine made by sox.
    std::string MakeWav(const std::string& name, int seconds) const {
        const std::string path = Path(name);
        const std::string cmd = "sox -n -r 44100 -c 2 -b 16 " + testsupport::Quoted(path) +
                                " synth " + std::to_string(seconds) + " sine 440 vol 0.5";
        const auto result = testsupport::RunCommand(cmd);
        EXPECT_EQ(result.ExitCode, 0) << cmd << "\n" << result.Output;
        return path;
    }

    // One field read by an independent reader (ffprobe), e.g. "format=duration" or
    // "stream=codec_name" of the first audio stream; empty when unreadable.
    static std::string Probe(const std::string& path, const std::string& entry) {
        const std::string output =
            testsupport::RunCommand("ffprobe -v error -select_streams a:0 -show_entries " + entry +
                                    " -of csv=p=0 " + testsupport::Quoted(path) + " 2>/dev/null")
                .Output;
        std::string s = output.substr(0, output.find('\n'));
        while (!s.empty() && s.back() == ',') {
            s.pop_back();
        }
        return s;
    }
    static double Duration(const std::string& path) {
        const std::string d = Probe(path, "format=duration");
        return d.empty() ? -1 : std::atof(d.c_str());
    }
    static std::string ProbeCodec(const std::string& path) {
        return Probe(path, "stream=codec_name");
    }

    static void WriteFile(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    // An executable shell script in its own folder, which becomes the whole PATH.
    void InstallScriptOnPath(const std::string& name, const std::string& body) {
        const fs::path bin = dir / "bin";
        fs::create_directories(bin);
        const fs::path script = bin / name;
        WriteFile(script.string(), "#!/bin/sh\n" + body + "\n");
        fs::permissions(script, fs::perms::owner_all);
        ::setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
    }

    void UseEmptyPath() {
        fs::create_directories(dir / "empty");
        ::setenv("PATH", (dir / "empty").c_str(), 1);
    }

    static bool ProcessGone(pid_t pid) {
        errno = 0;
        return ::kill(pid, 0) != 0 && errno == ESRCH;
    }

    // Declared first so that it goes last, after everything that may still use it.
    const testsupport::ScratchFolder scratch;
    const fs::path dir{scratch.Path()};
    std::string oldPath;
    platform::ScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<platform::Dialogs> oldDialogs;
    RecordingWindow window;
};

} // namespace jobs_test
