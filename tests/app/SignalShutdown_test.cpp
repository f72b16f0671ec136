// The real program ended by SIGTERM (a logout) while a modal window is open: the window
// is closed the way its Cancel or Stop closes it, the titles and settings are stored, and
// the process exits by itself after that one signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "app/SignalShutdown.h"
#include "cd/DiscImages.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using testsupport::Le32;
using testsupport::ReadAll;
using testsupport::ReadText;

constexpr int kFramesPerSecond = 75;
constexpr std::uint32_t kWavHeader = 44;
constexpr std::uint32_t kFrameBytes = 2352;

// The driver program, its output read line by line.
class Program {
public:
    Program(const std::string& action,
            const std::vector<std::pair<std::string, std::string>>& env) {
        int out[2];
        if (pipe(out) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl(VELLORINE_DRIVER, "vellorine", action.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        output_ = fdopen(out[0], "r");
    }
    ~Program() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ != nullptr) {
            fclose(output_);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The next line the program prints (empty at its end).
    std::string ReadLine() {
        char line[512];
        return fgets(line, sizeof line, output_) != nullptr ? std::string(line) : std::string();
    }
    void Signal(int signo) const { kill(pid_, signo); }
    // The wait status once the program has ended, or nothing after the timeout.
    std::optional<int> WaitForExit(std::chrono::seconds timeout) {
        std::optional<int> result;
        testsupport::WaitUntil(
            [&] {
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    result = status;
                    reaped_ = true;
                }
                return result.has_value();
            },
            timeout);
        return result;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    FILE* output_ = nullptr;
};

std::uintmax_t LargestFileIn(const fs::path& folder) {
    std::error_code ec;
    std::uintmax_t largest = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        largest = std::max(largest, entry.file_size(ec));
    }
    return largest;
}

struct SignalCase {
    const char* what;
    const char* action;
    bool rip;                // a long rip runs: the signal comes once its WAV has grown
    bool outputFolderExists; // otherwise Extract asks whether to create it
    const char* modalClass;  // the window the driver reports open when the signal comes
};

class SignalDuringAModalWindow : public ::testing::TestWithParam<SignalCase> {
protected:
    std::string WriteOptions(const fs::path& output) const {
        const std::string ini =
            "[CommonOptions]\nOutputFolder=" + output.string() + "\nOutputFormat=1\n";
        return home_.WriteText("options.ini", ini);
    }

    cdtest::ScratchFolder folder_;
    cdtest::ScratchFolder home_;
};

TEST_P(SignalDuringAModalWindow, EndsItAndTheProgramWithOneSignal) {
    const SignalCase& c = GetParam();
    // Long enough that a rip from the image is still under way when the signal comes.
    const int trackFrames = (c.rip ? 900 : 5) * kFramesPerSecond;
    const std::string cue = cdtest::MakeImage(folder_, "Long", {trackFrames});
    const fs::path output = fs::path(folder_.Path()) / "out";
    if (c.outputFolderExists) {
        fs::create_directory(output);
    }
    WriteOptions(output);
    Program program(c.action, {{"VELLORINE_HOME", home_.Path()},
                               {"VELLORINE_CD_IMAGES", cue},
                               {"VELLORINE_NO_CD_DRIVES", "1"}});
    EXPECT_EQ(program.ReadLine(), std::string("modal ") + c.modalClass + "\n") << c.what;
    if (c.rip) {
        // The rip's file (under whatever name it is written) has grown: the rip runs.
        ASSERT_TRUE(testsupport::WaitUntil([&] { return LargestFileIn(output) > 1000000; },
                                           std::chrono::seconds(30)));
    }
    program.Signal(SIGTERM);
    const std::optional<int> status = program.WaitForExit(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value()) << c.what << ": still running after one SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << c.what << ": " << *status;

    // Stored as at any close.
    EXPECT_NE(ReadText(home_.File("cdinfo.dat")).find("TrackNumber=1\n1=Track01"),
              std::string::npos)
        << c.what;
    EXPECT_NE(ReadText(home_.File("options.ini")).find("OutputFolder=" + output.string()),
              std::string::npos)
        << c.what;
    if (c.rip) {
        // The rip was stopped as Stop stops it, before the end of the track: whatever it
        // left is a WAV whose sizes tell its length, never the zero sizes of a rip cut off.
        const std::uint32_t full =
            kWavHeader + static_cast<std::uint32_t>(trackFrames) * kFrameBytes;
        for (const fs::directory_entry& entry : fs::directory_iterator(output)) {
            const auto bytes = ReadAll(entry.path().string());
            ASSERT_GE(bytes.size(), kWavHeader) << entry.path();
            const auto size = static_cast<std::uint32_t>(bytes.size());
            EXPECT_LT(size, full) << entry.path();
            EXPECT_EQ(Le32(bytes, 4), size - 8) << entry.path();
            EXPECT_EQ(Le32(bytes, 40), size - kWavHeader) << entry.path();
        }
    } else {
        EXPECT_EQ(fs::exists(output), c.outputFolderExists)
            << c.what << ": the question was answered No";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SignalDuringAModalWindow,
    ::testing::Values(SignalCase{"a rip in progress", "ActionExtract", true, true,
                                 "jobs::TRipForm"},
                      SignalCase{"a Yes/No question", "ActionExtract", false, false, "QMessageBox"},
                      SignalCase{"the About window", "mnuAbout", false, true, "app::TAboutBox"}));

// The same sequence in this process, on windows that behave in each way a window can.

// Asks a question in a box of its own while it closes, as the recorder does.
class AsksOnClose : public QDialog {
public:
    using QDialog::QDialog;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    void done(int result) override {
        answer = QMessageBox::question(this, "Vellorine", "Save it?");
        QDialog::done(result);
    }
};

// Will not be closed.
class Stubborn : public QDialog {
public:
    using QDialog::QDialog;
    void reject() override {}
};

struct ShutdownCase {
    const char* what;
    std::function<void(QWidget& main, std::vector<std::string>& log)> run;
};

class SignalShutdownSequence : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(SignalShutdownSequence, ClosesEveryModalWindowThenTheMainWindowThenEndsTheLoops) {
    const ShutdownCase& c = GetParam();
    QWidget main;
    main.show();
    std::vector<std::string> log;
    app::SignalShutdown shutdown(
        &main,
        [&] {
            log.push_back(QApplication::activeModalWidget() == nullptr ? "main closed"
                                                                       : "main closed early");
            main.close();
        },
        [&] { log.push_back("loops ended"); }, std::chrono::milliseconds(300));
    QTimer::singleShot(50, &main, [&] { shutdown.Begin(); });
    c.run(main, log);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !log.empty() && log.back() == "loops ended"; },
                                       std::chrono::seconds(5)))
        << c.what;
    EXPECT_FALSE(main.isVisible()) << c.what;
    shutdown.Begin(); // a second signal
    testsupport::PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(std::count(log.begin(), log.end(), "loops ended"), 1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SignalShutdownSequence,
    ::testing::Values(
        ShutdownCase{"no modal window",
                     [](QWidget&, std::vector<std::string>& log) {
                         testsupport::PumpUntil([&] { return !log.empty(); });
                         EXPECT_EQ(log.front(), "main closed");
                     }},
        ShutdownCase{"a dialog is rejected",
                     [](QWidget& main, std::vector<std::string>& log) {
                         QDialog dialog(&main);
                         EXPECT_EQ(dialog.exec(), QDialog::Rejected);
                         EXPECT_TRUE(log.empty()) << "the main window closes after the dialog";
                     }},
        ShutdownCase{"a box in a dialog takes its Escape answer, then the dialog goes",
                     [](QWidget& main, std::vector<std::string>& log) {
                         QDialog dialog(&main);
                         QMessageBox::StandardButton answer = QMessageBox::NoButton;
                         QTimer::singleShot(0, &dialog, [&] {
                             answer = QMessageBox::question(&dialog, "Vellorine", "Go on?");
                         });
                         EXPECT_EQ(dialog.exec(), QDialog::Rejected);
                         EXPECT_EQ(answer, QMessageBox::No);
                         EXPECT_TRUE(log.empty());
                     }},
        ShutdownCase{"a dialog asking a question as it closes",
                     [](QWidget& main, std::vector<std::string>& log) {
                         AsksOnClose dialog(&main);
                         EXPECT_EQ(dialog.exec(), QDialog::Rejected);
                         EXPECT_EQ(dialog.answer, QMessageBox::No);
                         EXPECT_TRUE(log.empty());
                     }},
        ShutdownCase{"a dialog that will not close is left after the give-up time",
                     [](QWidget& main, std::vector<std::string>& log) {
                         Stubborn dialog(&main);
                         QTimer::singleShot(0, &dialog, [&] {
                             testsupport::PumpUntil([&] { return !log.empty(); });
                             dialog.done(QDialog::Accepted); // what ending the loops does
                         });
                         dialog.exec();
                         ASSERT_FALSE(log.empty());
                         EXPECT_EQ(log.front(), "main closed early");
                     }}));

} // namespace
