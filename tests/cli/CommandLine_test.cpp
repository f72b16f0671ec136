// The command line as a script runs it: the real program, on generated disc images, with
// options.ini in this test's scratch program folder (the child inherits VELLORINE_HOME).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Version.h"
#include "platform/ProgramFolder.h"

#include "cd/CddbServer.h"
#include "jobs/RipFormTestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Quoted;
using testsupport::RunCommand;

const std::string kProgram = VELLORINE_BINARY_DIR "/vellorine";
const std::string kArHelper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";

// The program's run: exit code and standard output and error together.
testsupport::CommandResult Vellorine(const std::string& args) {
    return RunCommand(Quoted(kProgram) + " " + args);
}

// The names and bytes of every file under a folder.
std::map<std::string, testsupport::Bytes> Files(const fs::path& folder) {
    std::map<std::string, testsupport::Bytes> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = testsupport::ReadAll(entry.path().string());
    }
    return files;
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& [name, bytes] : Files(folder)) {
        names.insert(name);
    }
    return names;
}

class CommandLine : public jobs_test::JobWindowTest {
protected:
    void SetUp() override {
        JobWindowTest::SetUp();
        cliOut = dir / "cli";
    }
    // The settings record as options.ini, for the program to read.
    static void StoreSettings() { settings::LoadSaveOptions(false); }

    std::string ImageArgs() const { return "--image " + Quoted(cue); }

    fs::path cliOut;
};

// ---- the same files as the window ---------------------------------------------------------

struct SameAsWindowCase {
    const char* name;
    settings::TOutputFormat format;
    int encoders;
};

class RipLikeTheWindow : public CommandLine,
                         public ::testing::WithParamInterface<SameAsWindowCase> {};

TEST_P(RipLikeTheWindow, MakesTheSameFilesByteForByte) {
    const SameAsWindowCase& c = GetParam();
    OpenDisc({600, 450, 300});
    settings::Settings.CommonOptions.OutputFormat = c.format;
    settings::Settings.Performance.Encoders = c.encoders;
    const jobs_test::JobOutcome shown =
        Run(jobs::jkExtract, {"01Track01", "02Track02", "03Track03"});
    ASSERT_TRUE(shown.ended);
    ASSERT_TRUE(shown.boxes.isEmpty()) << shown.boxes.join("\n").toStdString();
    StoreSettings(); // the format and encoders come from options.ini

    const auto run = Vellorine("rip " + ImageArgs() + " --output " + Quoted(cliOut.string()));
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    const auto expected = Files(out);
    EXPECT_EQ(expected.size(), 3u) << "the window made one file per track";
    EXPECT_EQ(Names(cliOut), Names(out));
    EXPECT_TRUE(Files(cliOut) == expected) << "the files differ from the window's";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RipLikeTheWindow,
    ::testing::Values(SameAsWindowCase{"wav", settings::TOutputFormat::ofWav, 1},
                      SameAsWindowCase{"mp3", settings::TOutputFormat::ofMp3, 1},
                      SameAsWindowCase{"mp3_two_encoders", settings::TOutputFormat::ofMp3, 2},
                      SameAsWindowCase{"flac_two_encoders", settings::TOutputFormat::ofFlac, 2}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(CommandLine, ConvertMakesTheSameMp3AsTheWindow) {
    const std::string wav = MakeWav("tone.wav", 3);
    const jobs_test::JobOutcome shown = Run(jobs::jkWavToMp3, {QString::fromStdString(wav)});
    ASSERT_TRUE(shown.ended);
    StoreSettings();
    const auto run =
        Vellorine("convert --format mp3 --output " + Quoted(cliOut.string()) + " " + Quoted(wav));
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    ASSERT_EQ(Names(out), std::set<std::string>{"tone.mp3"});
    EXPECT_TRUE(Files(cliOut) == Files(out)) << "the MP3 differs from the window's";
}

TEST_F(CommandLine, ConvertsWavToFlacAndBackToTheSameWav) {
    const std::string wav = MakeWav("tone.wav", 3);
    const auto there =
        Vellorine("convert --format flac --output " + Quoted(cliOut.string()) + " " + Quoted(wav));
    ASSERT_EQ(there.ExitCode, 0) << there.Output;
    const fs::path back = dir / "back";
    const auto again = Vellorine("convert --format wav --output " + Quoted(back.string()) + " " +
                                 Quoted((cliOut / "tone.flac").string()));
    ASSERT_EQ(again.ExitCode, 0) << again.Output;
    EXPECT_TRUE(testsupport::ReadAll((back / "tone.wav").string()) == testsupport::ReadAll(wav));
}

// ---- settings -----------------------------------------------------------------------------

TEST_F(CommandLine, OptionsOverrideOptionsIniWhichIsWrittenOnlyWhenAsked) {
    OpenDisc({75});
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofMp3;
    StoreSettings();
    const std::string ini = platform::ProgramFolder() + "options.ini";
    const std::string before = testsupport::ReadText(ini);
    struct Case {
        const char* extra;
        bool written;
    };
    for (const Case& c : {Case{"", false}, Case{"--save-settings", true}}) {
        fs::remove_all(cliOut);
        const auto run = Vellorine("rip --quiet --format wav " + ImageArgs() + " --output " +
                                   Quoted(cliOut.string()) + " " + c.extra);
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        EXPECT_EQ(Names(cliOut), std::set<std::string>{"Track01.wav"}) << c.extra;
        const std::string after = testsupport::ReadText(ini);
        EXPECT_EQ(after != before, c.written) << c.extra << "\n" << after;
    }
    settings::LoadSaveOptions(true);
    EXPECT_EQ(settings::Settings.CommonOptions.OutputFormat, settings::TOutputFormat::ofWav);
    EXPECT_EQ(settings::Settings.CommonOptions.OutputFolder, cliOut.string());
}

// ---- refusals -----------------------------------------------------------------------------

TEST_F(CommandLine, BadArgumentsAndMissingInputDoNothingAndExitWithTwo) {
    OpenDisc({75, 75});
    const std::string never = Quoted((dir / "never").string());
    struct Case {
        std::string args;
        const char* message;
    };
    const Case cases[] = {
        {"rip --tracks 2-1 " + ImageArgs(), "runs backwards"},
        {"rip --format flac9 --output " + never + " " + ImageArgs(), "no format \"flac9\""},
        {"rip --bogus", "unknown option --bogus"},
        {"rip --tracks 3 --output " + never + " " + ImageArgs(), "no audio track 3"},
        {"rip --output " + never + " --image " + Quoted((dir / "none.cue").string()),
         "no disc image"},
        {"info --image " + Quoted(BinPath() + ".missing.cue"), "no disc image"},
        {"convert --format mp3 --output " + never + " " + Quoted((dir / "none.wav").string()),
         "no file"},
        {"convert --format ogg --output " + never + " " + Quoted(cue), "cannot convert"},
        {"verify " + Quoted((dir / "none").string()), "no folder"},
        {"rip --output " + never + " --drive /dev/no-such-drive", "no CD drive /dev/no-such-drive"},
        {"help frobnicate", "no command named"},
    };
    for (const Case& c : cases) {
        const auto run = Vellorine(c.args);
        EXPECT_EQ(run.ExitCode, 2) << c.args << "\n" << run.Output;
        EXPECT_NE(run.Output.find(c.message), std::string::npos) << c.args << "\n" << run.Output;
        EXPECT_NE(run.Output.find("vellorine --help"), std::string::npos) << run.Output;
    }
    EXPECT_FALSE(fs::exists(dir / "never")) << "nothing may be made before the checks pass";
}

TEST_F(CommandLine, NoDriveAndNoImageIsMissingDisc) {
    const testsupport::ScopedEnv images("VELLORINE_CD_IMAGES", "");
    const testsupport::ScopedEnv drives("VELLORINE_NO_CD_DRIVES", "1");
    for (const char* args : {"info", "rip --format wav"}) {
        const auto run = Vellorine(args);
        EXPECT_EQ(run.ExitCode, 2) << args << "\n" << run.Output;
        EXPECT_NE(run.Output.find("no CD drive"), std::string::npos) << run.Output;
    }
}

TEST_F(CommandLine, HelpForEachCommandAndTheVersion) {
    const std::pair<const char*, const char*> cases[] = {
        {"--help", "Commands"},          {"help", "Commands"},
        {"rip --help", "--tracks LIST"}, {"help convert", "--format NAME"},
        {"verify -h", "--log RIPLOG"},   {"info --help", "MusicBrainz"},
    };
    for (const auto& [args, text] : cases) {
        const auto run = Vellorine(args);
        EXPECT_EQ(run.ExitCode, 0) << args;
        EXPECT_NE(run.Output.find(text), std::string::npos) << args << "\n" << run.Output;
        EXPECT_NE(run.Output.find("130  interrupted"), std::string::npos) << args;
    }
    const auto version = Vellorine("--version");
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Output, std::string("vellorine ") + vellorine::kVersion + "\n");
}

// ---- info ---------------------------------------------------------------------------------

TEST_F(CommandLine, InfoGivesTheTocAndTheIdsAnIndependentReaderComputes) {
    const std::vector<int> frames = {1000, 2345, 77};
    OpenDisc(frames);
    std::string sums = "python3 " + Quoted(kArHelper) + " sums " + Quoted(BinPath());
    for (int f : frames) {
        sums += " " + std::to_string(f);
    }
    const auto expected = RunCommand(sums);
    ASSERT_EQ(expected.ExitCode, 0) << expected.Output;
    const std::size_t at = expected.Output.find("ids ");
    ASSERT_NE(at, std::string::npos) << expected.Output;
    std::istringstream ids(expected.Output.substr(at + 4));
    std::string count;
    std::string id1;
    std::string id2;
    std::string cddb;
    ids >> count >> id1 >> id2 >> cddb;

    const auto json = RunCommand(Quoted(kProgram) + " info --json " + ImageArgs() + " 2>/dev/null");
    ASSERT_EQ(json.ExitCode, 0) << json.Output;
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.Output)).object();
    EXPECT_EQ(root["cddbId"].toString().toStdString(), cddb);
    const std::string arId = root["accurateRipId"].toString().toStdString();
    EXPECT_EQ(std::stoi(arId.substr(0, 3), nullptr, 10), std::stoi(count, nullptr, 16)) << arId;
    EXPECT_EQ(arId.substr(4), id1 + "-" + id2 + "-" + cddb);
    const std::string mbId = root["musicBrainzId"].toString().toStdString();
    EXPECT_EQ(mbId.size(), 28u) << mbId;
    EXPECT_EQ(
        mbId.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-"),
        std::string::npos)
        << mbId;
    const QJsonArray tracks = root["tracks"].toArray();
    ASSERT_EQ(tracks.size(), 3);
    qint64 start = 0;
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const QJsonObject t = tracks[i].toObject();
        EXPECT_EQ(t["number"].toInt(), i + 1);
        EXPECT_EQ(t["start"].toInteger(), start);
        EXPECT_EQ(t["frames"].toInteger(), frames[static_cast<std::size_t>(i)]);
        start += frames[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(root["leadOut"].toInteger(), start);

    const auto text = Vellorine("info " + ImageArgs());
    EXPECT_EQ(text.ExitCode, 0);
    EXPECT_NE(text.Output.find("CDDB disc id: " + cddb), std::string::npos) << text.Output;
    EXPECT_NE(text.Output.find("    2  00:15.25  00:31.20    2345  audio"), std::string::npos)
        << text.Output;
}

// ---- verify -------------------------------------------------------------------------------

TEST_F(CommandLine, VerifyChecksARipAgainstTheDatabase) {
    const std::vector<int> frames = {300, 200};
    OpenDisc(frames);
    const auto rip = Vellorine("rip --quiet --format wav " + ImageArgs() + " --output " +
                               Quoted(cliOut.string()));
    ASSERT_EQ(rip.ExitCode, 0) << rip.Output;
    struct Case {
        const char* kind;
        int exitCode;
        const char* text;
    };
    for (const Case& c : {Case{"match", 0, "verified"}, Case{"mismatch", 1, "mismatch"}}) {
        testsupport::ScratchFolder served;
        std::string command = "python3 " + Quoted(kArHelper) + " database " + Quoted(BinPath()) +
                              " " + Quoted(served.File("ar.bin")) + " " + c.kind;
        for (int f : frames) {
            command += " " + std::to_string(f);
        }
        const auto made = RunCommand(command);
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        fs::rename(served.File("ar.bin"),
                   served.File(made.Output.substr(0, made.Output.find('\n'))));
        testsupport::ScratchFolder records;
        cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
        settings::Settings.SecureRip.AccurateRipServer = "http://" + server.Address();
        settings::Settings.SecureRip.CTDBServer = "http://" + server.Address();
        StoreSettings();
        const auto run = Vellorine("verify " + Quoted(cliOut.string()) + " " + ImageArgs());
        EXPECT_EQ(run.ExitCode, c.exitCode) << c.kind << "\n" << run.Output;
        EXPECT_NE(run.Output.find("track 01  Track01.wav  " + std::string(c.text)),
                  std::string::npos)
            << c.kind << "\n"
            << run.Output;
    }
}

// ---- secure rips --------------------------------------------------------------------------

// An AccurateRip database for the disc image, served on a loopback port.
class ServedDatabase {
public:
    ServedDatabase(const std::string& bin, const std::vector<int>& frames, const char* kind) {
        std::string command = "python3 " + Quoted(kArHelper) + " database " + Quoted(bin) + " " +
                              Quoted(served_.File("ar.bin")) + " " + kind;
        for (int f : frames) {
            command += " " + std::to_string(f);
        }
        const auto made = RunCommand(command);
        EXPECT_EQ(made.ExitCode, 0) << made.Output;
        fs::rename(served_.File("ar.bin"),
                   served_.File(made.Output.substr(0, made.Output.find('\n'))));
        server_ = std::make_unique<cdtest::CddbServer>(
            records_.Path(), std::vector<std::string>{"--files", served_.Path()});
    }
    std::string Url() const { return "http://" + server_->Address(); }

private:
    testsupport::ScratchFolder served_;
    testsupport::ScratchFolder records_;
    std::unique_ptr<cdtest::CddbServer> server_;
};

TEST_F(CommandLine, SecureRipSaysHowEachTrackWasVerifiedAndWhereTheLogIs) {
    const std::vector<int> frames = {300, 225};
    OpenDisc(frames);
    struct Case {
        const char* what;
        bool accurateRip;
        bool served; // else nothing answers on the servers' port
        int exitCode;
        const char* status;
        const char* detail;
    };
    const Case cases[] = {
        {"in the database", true, true, 0, "ok", "verified (confidence"},
        {"no answer", true, false, 1, "not verified", ""},
        {"AccurateRip off", false, false, 0, "ok", "not checked"},
    };
    for (const Case& c : cases) {
        fs::remove_all(cliOut);
        std::unique_ptr<ServedDatabase> database;
        std::string url = "http://127.0.0.1:9";
        if (c.served) {
            database = std::make_unique<ServedDatabase>(BinPath(), frames, "match");
            url = database->Url();
        }
        settings::Settings.SecureRip.AccurateRipServer = url;
        settings::Settings.SecureRip.CTDBServer = url;
        settings::Settings.SecureRip.AccurateRip = c.accurateRip;
        StoreSettings();
        // The image is the CD layer's drive here: --drive names it.
        const auto run =
            RunCommand(Quoted(kProgram) + " rip --secure --json --format wav --drive " +
                       Quoted(cue) + " --output " + Quoted(cliOut.string()) + " 2>/dev/null");
        EXPECT_EQ(run.ExitCode, c.exitCode) << c.what << "\n" << run.Output;
        const QJsonObject root =
            QJsonDocument::fromJson(QByteArray::fromStdString(run.Output)).object();
        const QJsonArray items = root["items"].toArray();
        ASSERT_EQ(items.size(), 2) << c.what << "\n" << run.Output;
        for (const QJsonValue& item : items) {
            EXPECT_EQ(item.toObject()["status"].toString().toStdString(), c.status) << c.what;
            EXPECT_TRUE(item.toObject()["detail"].toString().startsWith(c.detail))
                << c.what << ": " << item.toObject()["detail"].toString().toStdString();
        }
        const std::string log = root["log"].toString().toStdString();
        EXPECT_EQ(fs::path(log).parent_path(), cliOut) << c.what;
        EXPECT_NE(testsupport::ReadText(log).find("Track01.wav"), std::string::npos) << log;
        EXPECT_EQ(root["exitCode"].toInt(), c.exitCode);
    }
}

// ---- Ctrl+C -------------------------------------------------------------------------------

// The program running in the background, its standard output read line by line.
class Running {
public:
    explicit Running(const std::vector<std::string>& args) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~Running() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    // Waits for a line starting with prefix; false after the timeout or the end of output.
    bool WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            char buffer[4096];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n > 0) {
                text_.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                return Has(prefix);
            } else {
                std::this_thread::sleep_for(5ms);
            }
            if (Has(prefix)) {
                return true;
            }
        }
        return false;
    }
    bool Has(const std::string& prefix) const {
        return text_.rfind(prefix, 0) == 0 || text_.find("\n" + prefix) != std::string::npos;
    }
    // The processes the program has started and not yet reaped.
    std::vector<int> Children() const {
        std::vector<int> pids;
        for (const fs::directory_entry& task :
             fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
            std::istringstream in(testsupport::ReadText(task.path().string() + "/children"));
            for (int pid = 0; in >> pid;) {
                pids.push_back(pid);
            }
        }
        return pids;
    }
    void Signal(int signo) const { ::kill(pid_, signo); }
    // The exit code, or -1 when it has not ended within the timeout.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                waited_ = true;
                WaitForLine("\x01", 0ms); // what is left in the pipe
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    const std::string& Output() const { return text_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool waited_ = false;
    std::string text_;
};

// Whether a process has ended (gone, or a zombie nobody has reaped yet).
bool Ended(int pid) {
    const std::string stat = testsupport::ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t paren = stat.rfind(')');
    return stat.empty() || (paren != std::string::npos && stat.substr(paren + 2, 1) == "Z");
}

struct InterruptCase {
    const char* name;
    const char* format;
    const char* waitFor; // the progress line after which Ctrl+C comes
    std::vector<int> frames;
    const char* faulty;         // sectors that slow the rip down
    std::set<std::string> kept; // what stays: only whole files
    bool childRuns;             // an encoder is running when Ctrl+C comes
};

class CtrlC : public CommandLine, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(CtrlC, StopsWithExitCode130AndLeavesNoPartialFileAndNoChild) {
    const InterruptCase& c = GetParam();
    OpenDisc(c.frames);
    const testsupport::ScopedEnv faulty("VELLORINE_FAULTY_SECTORS", c.faulty);
    Running run({"rip", "--format", c.format, "--image", cue, "--output", cliOut.string()});
    ASSERT_TRUE(run.WaitForLine(c.waitFor, 60s)) << run.Output();
    std::this_thread::sleep_for(200ms);
    const std::vector<int> children = run.Children();
    EXPECT_EQ(!children.empty(), c.childRuns) << run.Output();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(15s), 130) << run.Output();
    for (int pid : children) {
        EXPECT_TRUE(Ended(pid)) << "child " << pid << " outlived the program";
    }
    EXPECT_EQ(Names(cliOut), c.kept) << run.Output();
    // What stays is whole: a WAV holds its track to the end.
    if (c.kept.count("Track01.wav") > 0) {
        const auto bytes = testsupport::ReadAll((cliOut / "Track01.wav").string());
        EXPECT_EQ(bytes.size(), 44u + static_cast<std::size_t>(c.frames[0]) * 2352);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CtrlC,
    ::testing::Values(
        // The second track's sectors hang a second each: Ctrl+C comes in the middle of it.
        InterruptCase{"while_extracting",
                      "wav",
                      "[2/2] Extracting",
                      {300, 1500},
                      "900-905=stall",
                      {"Track01.wav"},
                      false},
        // Three minutes of audio keep lame busy for a few seconds.
        // The first track's WAV is whole and stays; its MP3 was not finished and goes.
        InterruptCase{
            "while_encoding", "mp3", "[1/2] Encoding", {13500, 75}, "", {"Track01.wav"}, true}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
