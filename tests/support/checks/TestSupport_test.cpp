#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

TEST(ScratchFolder, IsRemovedWithReadOnlyFilesAndFoldersInside) {
    std::string path;
    {
        ScratchFolder folder;
        path = folder.Path();
        ASSERT_TRUE(fs::is_directory(path));
        fs::create_directories(folder.File("sub/deeper"));
        folder.WriteText("sub/deeper/locked.txt", "x");
        fs::permissions(folder.File("sub/deeper/locked.txt"), fs::perms::owner_read);
        fs::permissions(folder.File("sub/deeper"), fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(folder.File("sub"), fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(ScratchFolder, TwoFoldersNeverShareAPath) {
    ScratchFolder a;
    ScratchFolder b;
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(a.File("x.bin"), a.Path() + "/x.bin");
}

TEST(ScratchFolder, WrittenBytesReadBackExactlyIncludingZerosAndHighBytes) {
    ScratchFolder folder;
    const Bytes bytes{0x00, 0xFF, 0x0D, 0x0A, 0x1A, 0x80, 0x00};
    const std::string path = folder.Write("b.bin", bytes);
    EXPECT_EQ(ReadAll(path), bytes);
    folder.Write("b.bin", Bytes{0x41});
    EXPECT_EQ(ReadText(path), "A");
    EXPECT_EQ(ReadText(folder.WriteText("t.txt", std::string("a\0b\r\n", 5))),
              std::string("a\0b\r\n", 5));
}

TEST(ReadAll, AMissingFileReadsAsEmpty) {
    ScratchFolder folder;
    EXPECT_TRUE(ReadAll(folder.File("missing")).empty());
    EXPECT_EQ(ReadText(folder.File("missing")), "");
}

TEST(RunCommand, CapturesBothStreamsOfTheWholeLineAndTheExitCode) {
    const auto result = RunCommand("echo out; echo err >&2; exit 3");
    EXPECT_EQ(result.ExitCode, 3);
    EXPECT_EQ(result.Output, "out\nerr\n");
    EXPECT_EQ(RunCommand("true").ExitCode, 0);
    EXPECT_EQ(RunCommand("kill -9 $$").ExitCode, -1);
}

TEST(RunCommand, ARedirectionInsideTheLineIsKept) {
    EXPECT_EQ(RunCommand("echo hidden 2>/dev/null >&2; echo shown >&2").Output, "shown\n");
}

TEST(Quoted, AnyWordReachesTheCommandAsOneUnchangedArgument) {
    for (const std::string word : {"", "plain", "two words", "it's", "'", "''", "$HOME `id` \\n",
                                   "*", "a\"b", "semi;colon|pipe&", "line\nbreak"}) {
        const auto result = RunCommand("printf '%s|%s' " + Quoted(word) + " end");
        EXPECT_EQ(result.Output, word + "|end") << word;
    }
}

} // namespace

namespace {

// The byte oracles many tests check the program's output with.
TEST(LittleEndianOracle, FieldsAndSamplesReadLowByteFirstAndSignedSamplesKeepTheirSign) {
    const Bytes bytes{0x34, 0x12, 0xFF, 0x7F, 0x00, 0x80, 0xFF, 0xFF, 0x01};
    struct Field {
        std::size_t at;
        std::uint16_t le16;
        std::uint32_t le32;
    };
    for (const Field f : {Field{0, 0x1234, 0x7FFF1234}, Field{2, 0x7FFF, 0x80007FFF},
                          Field{4, 0x8000, 0xFFFF8000}, Field{5, 0xFF80, 0x01FFFF80}}) {
        SCOPED_TRACE(f.at);
        EXPECT_EQ(Le16(bytes, f.at), f.le16);
        EXPECT_EQ(Le32(bytes, f.at), f.le32);
    }
    EXPECT_THROW(Le32(bytes, 6), std::out_of_range); // a short file is an error, not zeros
    // An odd byte at the end is not half a sample.
    EXPECT_EQ(S16Samples(bytes), (std::vector<std::int16_t>{0x1234, 0x7FFF, -32768, -1}));
}

TEST(WaitUntil, SeesWhatAnotherThreadDoesAndGivesUpAtItsDeadline) {
    std::atomic<bool> set{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the wait must be waiting
        set = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return set.load(); }, std::chrono::seconds(5)));
    setter.join();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitUntil([] { return false; }, std::chrono::milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

} // namespace
