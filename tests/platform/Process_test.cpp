#include "platform/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::SplitCommandLine;
using Words = std::vector<std::string>;

namespace {

// A child with all three streams on pipes, as the encoders run them.
struct Piped {
    platform::Pipe in, out, err;
    platform::TChildProcess child;

    bool Start(const std::string& line) {
        if (!platform::CreatePipe(in, false) || !platform::CreatePipe(out, true) ||
            !platform::CreatePipe(err, true)) {
            return false;
        }
        const bool ok =
            child.Start(line, {in.ReadEnd.Get(), out.WriteEnd.Get(), err.WriteEnd.Get()});
        in.ReadEnd.Reset();
        out.WriteEnd.Reset();
        err.WriteEnd.Reset();
        return ok;
    }
};

std::string ReadAll(int fd) {
    std::string all;
    for (;;) {
        std::uint32_t n = 0;
        if (!platform::PeekPipe(fd, n)) {
            ADD_FAILURE() << "peek failed: " << errno;
            return all;
        }
        if (n == 0) {
            return all;
        }
        std::string piece;
        EXPECT_TRUE(platform::ReadPipe(fd, n, piece));
        all += piece;
    }
}

bool ProcessGone(pid_t pid) {
    errno = 0;
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TEST(CommandLineSplitting, QuotesGroupWordsAndBackslashesCountOnlyBeforeAQuote) {
    EXPECT_EQ(SplitCommandLine("lame -b 128 \"my song.wav\"   \"out dir/x.mp3\""),
              (Words{"lame", "-b", "128", "my song.wav", "out dir/x.mp3"}));
    EXPECT_EQ(SplitCommandLine("  a\tb\"c d\"e \"\"  "), (Words{"a", "bc de", ""}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\b a\"b a\\\"b "a\\" c)"),
              (Words{"p", R"(a\\b)", R"(a"b)", R"(a\"b)", R"(a\)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"(p "say ""hi""" end)"), (Words{"p", R"(say "hi")", "end"}));
    // The program word keeps its backslashes and ends at its closing quote.
    EXPECT_EQ(SplitCommandLine(R"("/opt/my tools/enc" -x)"), (Words{"/opt/my tools/enc", "-x"}));
    EXPECT_EQ(SplitCommandLine(R"(c:\a\"b c)"), (Words{R"(c:\a\"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(""), Words{});
}

TEST(CommandLineSplitting, AQuotedWordComesBackUnchangedWhateverItHolds) {
    for (const std::string word : {"plain", "with blank", "quo\"te", "trail\\", "two\\\\",
                                   "\\\"mixed\\ \"", "", "tab\there"}) {
        const Words words = SplitCommandLine("prog " + platform::QuoteArgument(word) + " next");
        ASSERT_EQ(words.size(), 3u) << word;
        EXPECT_EQ(words[1], word);
        EXPECT_EQ(words[2], "next");
    }
    EXPECT_EQ(platform::QuoteArgument("/tmp/a b.wav"), "\"/tmp/a b.wav\"");
}

TEST(ProgramSearch, LooksBesideTheExecutableFirstThenOnThePath) {
    EXPECT_EQ(platform::FindProgram("no-such-program-vellorine"), "");
    EXPECT_EQ(platform::FindProgram("/etc/passwd"), ""); // not executable
    const std::string name = "true-beside-" + std::to_string(::getpid());
    const fs::path beside = fs::path(platform::ExecutableFolder()) / name;
    const fs::path pathDir = fs::temp_directory_path() / name;
    fs::create_directories(pathDir);
    fs::copy_file("/bin/true", pathDir / name);
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", ("/nowhere::" + pathDir.string()).c_str(), 1);
    const std::string onPath = platform::FindProgram(name);
    fs::copy_file("/bin/true", beside);
    const std::string found = platform::FindProgram(name);
    ::setenv("PATH", oldPath.c_str(), 1);
    fs::remove(beside);
    fs::remove_all(pathDir);
    EXPECT_EQ(fs::path(onPath), pathDir / name);
    EXPECT_EQ(fs::path(found), beside);
}

TEST(ChildProcess, GetsItsThreeStandardStreamsFromThePipesAndReportsItsExitCode) {
    Piped p;
    ASSERT_TRUE(p.Start(R"(sh -c "cat; echo err >&2; exit 3")"));
    ASSERT_EQ(::write(p.in.WriteEnd.Get(), "hello", 5), 5);
    p.in.WriteEnd.Reset();
    ASSERT_TRUE(p.child.WaitForExit(5000ms));
    EXPECT_EQ(ReadAll(p.out.ReadEnd.Get()), "hello");
    EXPECT_EQ(ReadAll(p.err.ReadEnd.Get()), "err\n");
    EXPECT_EQ(p.child.ExitCode(), 3);
}

TEST(ChildProcess, InheritsNoDescriptorBesideTheStandardStreams) {
    // An inheritable descriptor, as another thread of the program might leave one.
    platform::UniqueFd stray(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(stray);
    platform::UniqueFd high(::dup2(stray.Get(), 77));
    ASSERT_EQ(high.Get(), 77);
    Piped p;
    ASSERT_TRUE(p.Start(R"(sh -c "ls /proc/self/fd; test -e /proc/self/fd/77 && echo LEAK")"));
    ASSERT_TRUE(p.child.WaitForExit(5000ms));
    const std::string listing = ReadAll(p.out.ReadEnd.Get());
    EXPECT_NE(listing.find("0\n1\n2\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("LEAK"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("77"), std::string::npos) << listing;
}

TEST(ChildProcess, AMissingProgramFailsWithTheSystemErrorNumber) {
    Piped p;
    errno = 0;
    EXPECT_FALSE(p.Start("no-such-program-vellorine -x"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(p.child.Started());
    EXPECT_FALSE(p.child.WaitForExit(10ms));
}

TEST(ChildProcess, AWaitTimesOutWhileTheChildRunsAndEndsWhenAnotherThreadKillsIt) {
    Piped p;
    ASSERT_TRUE(p.Start("sleep 30"));
    const pid_t pid = p.child.Pid();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.child.WaitForExit(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 90ms);
    std::thread killer([&] {
        std::this_thread::sleep_for(50ms);
        p.child.Terminate();
    });
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
        ended = p.child.WaitForExit(100ms);
    }
    killer.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(p.child.ExitCode(), 128 + SIGKILL);
    EXPECT_TRUE(ProcessGone(pid)); // reaped: not even a zombie is left
}

TEST(ChildProcess, DestroyingTheOwnerKillsAChildStillRunning) {
    pid_t pid = 0;
    {
        Piped p;
        ASSERT_TRUE(p.Start("sleep 30"));
        pid = p.child.Pid();
        EXPECT_FALSE(ProcessGone(pid));
    }
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(Pipes, ThePeekCountsWaitingBytesAndAReadOfMoreFailsInsteadOfBlocking) {
    platform::Pipe pipe;
    ASSERT_TRUE(platform::CreatePipe(pipe, true));
    std::uint32_t n = 99;
    ASSERT_TRUE(platform::PeekPipe(pipe.ReadEnd.Get(), n));
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(::write(pipe.WriteEnd.Get(), "abc", 3), 3);
    ASSERT_TRUE(platform::PeekPipe(pipe.ReadEnd.Get(), n));
    EXPECT_EQ(n, 3u);
    std::string text;
    EXPECT_FALSE(platform::ReadPipe(pipe.ReadEnd.Get(), 5, text));
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(text, "abc");
    EXPECT_FALSE(platform::PeekPipe(-1, n));
}
