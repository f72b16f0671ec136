#include "platform/Registry.h"
#include "platform/RunningPrograms.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "support/TestSupport.h"

using platform::RegistryHive;
namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kHeader = "WINE REGISTRY Version 2\n"
                            ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
                            "\n"
                            "#arch=win64\n"
                            "\n";
const std::string kRecent = "[Software\\\\Microsoft\\\\MediaPlayer\\\\Player\\\\RecentFileList] "
                            "1700000000\n"
                            "#time=1da0000000000000\n";
const std::string kClip1 = "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\"
                           "MostRecentClips1] 1700000000\n"
                           "@=\"file://C:\\\\a.rm\"\n"
                           "\n";
const std::string kWine = "[Software\\\\Wine] 1700000000\n"
                          "\"Version\"=\"win10\"\n"
                          "\n";
const std::string kRecentKey = "\\Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList\\";

class Hive : public ::testing::Test {
protected:
    std::string Write(const std::string& text) { return dir_.WriteText("user.reg", text); }
    std::string Text() const { return testsupport::ReadText(dir_.File("user.reg")); }
    testsupport::ScratchFolder dir_;
};

TEST_F(Hive, DeletedValuesAndKeysLeaveEveryOtherLineAsItWas) {
    const std::string values = "\"File0\"=\"C:\\\\music\\\\a.mp3\"\n"
                               "\"FILE1\"=hex(2):43,00,3a,00,\\\n"
                               "  5c,00,00,00\n"
                               "\"Other\"=\"keep\"\n"
                               "\n";
    const std::string path = Write(kHeader + kRecent + values + kClip1 + kWine);
    RegistryHive hive(path);
    EXPECT_TRUE(hive.OpenKey(kRecentKey));
    EXPECT_TRUE(hive.OpenKey("software\\microsoft\\mediaplayer\\player\\recentfilelist"));
    EXPECT_FALSE(hive.OpenKey("\\Software\\Microsoft\\MediaPlayer"));
    EXPECT_TRUE(hive.DeleteValue(kRecentKey, "File0"));
    EXPECT_TRUE(hive.DeleteValue(kRecentKey, "file1")) << "a value over two lines";
    EXPECT_FALSE(hive.DeleteValue(kRecentKey, "File2"));
    EXPECT_FALSE(hive.DeleteValue("\\Software\\Absent", "File0"));
    EXPECT_TRUE(
        hive.DeleteKey("\\Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips1"));
    EXPECT_FALSE(
        hive.DeleteKey("\\Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips1"));
    EXPECT_EQ(Text(), kHeader + kRecent + values + kClip1 + kWine) << "nothing before Close";
    hive.Close();
    EXPECT_EQ(Text(), kHeader + kRecent + "\"Other\"=\"keep\"\n\n" + kWine);
}

TEST_F(Hive, AKeyWithSubkeysIsNotDeleted) {
    const std::string sub = "[Software\\\\Wine\\\\Drivers] 1700000000\n\"Audio\"=\"pulse\"\n\n";
    Write(kHeader + kWine + sub);
    RegistryHive hive(dir_.File("user.reg"));
    EXPECT_FALSE(hive.DeleteKey("Software\\Wine"));
    EXPECT_TRUE(hive.DeleteKey("Software\\Wine\\Drivers"));
    EXPECT_TRUE(hive.DeleteKey("Software\\Wine"));
    hive.Close();
    EXPECT_EQ(Text(), kHeader);
}

TEST_F(Hive, AMissingHiveIsEmptyAndStaysMissingAndAReadOnlyOneIsNotReplaced) {
    RegistryHive missing(dir_.File("user.reg"));
    EXPECT_FALSE(missing.OpenKey(kRecentKey));
    EXPECT_FALSE(missing.DeleteKey("Software\\Wine"));
    missing.Close();
    EXPECT_FALSE(fs::exists(dir_.File("user.reg")));

    const std::string path = Write(kHeader + kWine);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    RegistryHive readOnly(path);
    ASSERT_TRUE(readOnly.DeleteKey("Software\\Wine"));
    try {
        readOnly.Close();
        FAIL() << "a read-only hive was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(Text(), kHeader + kWine);
    EXPECT_EQ(fs::directory_iterator(dir_.Path())->path().filename(), "user.reg")
        << "no temporary file is left";
}

TEST_F(Hive, TheUserHiveIsInTheWinePrefixElseInDotWine) {
    {
        testsupport::ScopedEnv prefix("WINEPREFIX", "/srv/prefix");
        EXPECT_EQ(RegistryHive::UserHivePath(), "/srv/prefix/user.reg");
    }
    testsupport::ScopedEnv prefix("WINEPREFIX", "");
    testsupport::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(RegistryHive::UserHivePath(), "/home/someone/.wine/user.reg");
}

TEST(RunningPrograms, AProgramIsFoundByItsProcessNameWhileItRuns) {
    testsupport::ScratchFolder dir;
    // Names longer than the kernel keeps are compared as it cuts them.
    for (const std::string name : {"realplay.exe", "a-very-long-player-name.exe"}) {
        const std::string copy = dir.File(name);
        fs::copy_file("/bin/sleep", copy);
        EXPECT_FALSE(platform::IsProgramRunning(name));
        pid_t pid = -1;
        std::string program = copy;
        std::string seconds = "30";
        char* argv[] = {program.data(), seconds.data(), nullptr};
        ASSERT_EQ(posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environ), 0);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return platform::IsProgramRunning(name); },
                                           std::chrono::seconds(1)))
            << name;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        EXPECT_FALSE(platform::IsProgramRunning(name)) << name;
    }
}

} // namespace
