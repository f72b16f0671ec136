#pragma once
// Shared pieces of the encoder tests: a window that collects the records it receives,
// temporary folders, scripted dialogs and WAV fixtures made by sox.
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
#include "jobs/rip.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"
#include "support/MessageRecorder.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

namespace jobs_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testsupport::PumpFor;
using testsupport::PumpUntil;

// Stands in for the job window: keeps a copy of every record it receives.
using RecordingWindow = testsupport::MessageRecorder;

// A fresh folder per test (removed with the fixture), with PATH and the scripted dialogs restored
// afterwards.
class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        oldPath = path != nullptr ? path : "";
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
    }

    void TearDown() override {
        // Every monitor must have left by now: none may outlive its step.
        EXPECT_TRUE(Settle());
        ::setenv("PATH", oldPath.c_str(), 1);
    }

    // Waits until every monitor has left, then delivers what is still queued. From then on
    // nothing more can reach the window, so a count checked afterwards is final.
    static bool Settle() {
        const bool gone = PumpUntil([] { return jobs::TEncoderMonitor::Running() == 0; }, 5000ms);
        QCoreApplication::sendPostedEvents();
        return gone;
    }

    std::string Path(const std::string& name) const { return scratch.File(name); }

    // Sets a wrapper up for one step as the job window does, reporting to `window`.
    void Prepare(jobs::TEncoderProcess& process, const std::string& in, const std::string& out,
                 bool encode, jobs::TJobKind kind) {
        process.Active = true;
        process.NotifyWindow = &window;
        process.InputFile = in;
        process.OutputFile = out;
        process.EncodeMode = encode;
        process.JobKind = static_cast<std::uint8_t>(kind);
    }
    // Handles events until n end events have arrived.
    bool WaitForEnds(std::size_t n, std::chrono::milliseconds timeout = 60000ms) {
        return PumpUntil([&] { return window.Events().size() >= n; }, timeout);
    }

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

    // The name a process runs under ("" once it is gone).
    static std::string CommandName(pid_t pid) {
        std::string name = testsupport::ReadText("/proc/" + std::to_string(pid) + "/comm");
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        return name;
    }

    static bool ProcessGone(pid_t pid) {
        errno = 0;
        return ::kill(pid, 0) != 0 && errno == ESRCH;
    }

    // Declared first so that it goes last, after everything that may still use it.
    const testsupport::ScratchFolder scratch;
    const fs::path dir{scratch.Path()};
    std::string oldPath;
    const testsupport::ScopedDialogs scripted;
    platform::ScriptedDialogs* const dialogs = scripted.get();
    RecordingWindow window;
};

} // namespace jobs_test
