// The main window's commands driven through its menus, tool bar, keys and list clicks.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "app/MainWindowFixture.h"
#include "platform/RunningPrograms.h"
#include "platform/Shell.h"

namespace fs = std::filesystem;

namespace {

using apptest::MainWindowCommands;

TEST_F(MainWindowCommands, MenusToolBarAndPopUpCarryTheCommandsInTheirDesignedOrder) {
    cdtest::UseImages({ThreeTrackImage()});
    Start();
    EXPECT_EQ(Entries(Menu("&File")->actions()),
              QStringList({"WA&V to WAV...", "&WAV to MP3...", "&MP3 to WAV...", "WAV to O&GG...",
                           "WAV to WM&A...",
                           // appended after the designed entries
                           "WAV to &FLAC...", "WAV to O&pus...", "F&LAC to WAV...", "-",
                           "&Open output directory...", "-", "&Refresh", "-", "&Eject CD",
                           "&Close CD", "-", "E&xit"}));
    EXPECT_EQ(Entries(Menu("&Actions")->actions()),
              QStringList({"E&xtract", "-", "&Record", "-", "&OGG Player...", "-", "&Play",
                           "P&ause", "&Stop", "-", "&Volume Control...", "-", "&Clear History",
                           // appended after the designed entries
                           "-", "Verify &Files..."}));
    EXPECT_EQ(
        Entries(Menu("&Edit")->actions()),
        QStringList({"Select &All", "Select &None", "-", "&Query Freedb", "Query &MusicBrainz...",
                     "-", "Rename &Title", "&ID3 Tag Edit", "-", "&Options...\tCtrl+O"}));
    EXPECT_EQ(Entries(Menu("&Help")->actions()), QStringList({"&Help", "-", "&About..."}));
    const auto popups = form_->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(popups.size(), 1);
    EXPECT_EQ(Entries(popups[0]->actions()),
              QStringList({"E&xtract", "-", "Select &All", "Select &None", "-", "&Play", "P&ause",
                           "&Stop", "-", "Rename &Title"}));
    auto* bar = form_->findChild<QToolBar*>("ToolBar1");
    EXPECT_EQ(Entries(bar->actions()), QStringList({"Extract", "-", "Encode", "-", "Folder", "-",
                                                    "Record", "Options", "-", "Exit"}));
    const struct {
        const char* name;
        const char* hint;
        const char* shortcut;
    } actions[] = {
        {"ActionExtract", "Extract the selected track", "Ctrl+X"},
        {"ActionSelectAll", "Select all tracks", "Ctrl+A"},
        {"ActionNoSelect", "Cancel selected track", "Ctrl+N"},
        {"ActionWavToMp3", "Convert  WAV file to MP3 file", "Ctrl+W"},
        {"aPlay", "Play the current track", "Ctrl+P"},
        {"aStop", "Stop the current track", ""},
        {"aEditTrackName", "Rename track title", "F2"},
        {"EjectMenu", "", "Ctrl+E"},
        {"CloseCdRomMenu", "", "Ctrl+L"},
        {"VolumeControlMenu", "", "Ctrl+V"},
        {"mnuHelp", "", "F1"},
    };
    for (const auto& a : actions) {
        EXPECT_EQ(form_->Action(a.name)->statusTip(), a.hint) << a.name;
        EXPECT_EQ(form_->Action(a.name)->shortcut().toString(), a.shortcut) << a.name;
    }
}

TEST_F(MainWindowCommands, EachActionIsEnabledByItsRuleAsRowsChecksAndSelectionChange) {
    auto& empty = Start();
    for (const char* off :
         {"ActionExtract", "aPlay", "aPause", "aStop", "aEditTrackName", "aQueryCDDB"}) {
        EXPECT_FALSE(Enabled(off)) << off << " without rows";
    }
    for (const char* on : {"ActionSelectAll", "ActionNoSelect", "ActionOptionSet", "ActionExit",
                           "ActionRecord", "ActionWavToMp3", "aID3Edit", "mnuMp3ToWav",
                           "Openoutputdirectory1", "miRealOnePlayer", "VolumeControlMenu"}) {
        EXPECT_TRUE(Enabled(on)) << on;
    }
    empty.close();
    form_.reset();

    cdtest::UseImages({ThreeTrackImage()});
    Start();
    EXPECT_TRUE(Enabled("ActionExtract")) << "every row starts checked";
    EXPECT_TRUE(Enabled("aQueryCDDB"));
    EXPECT_FALSE(Enabled("aPlay")) << "no row selected yet";
    ClickRow(1);
    EXPECT_TRUE(Enabled("aPlay"));
    EXPECT_TRUE(Enabled("aEditTrackName"));
    form_->Action("ActionNoSelect")->trigger();
    EXPECT_FALSE(Enabled("ActionExtract"));
    form_->ListView()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(Enabled("ActionExtract"));
    form_->DeviceChange(0x8004, 2); // the disc went away
    EXPECT_FALSE(Enabled("ActionExtract"));
    EXPECT_FALSE(Enabled("aPlay"));
    EXPECT_FALSE(Enabled("aQueryCDDB"));
}

TEST_F(MainWindowCommands, CtrlClickTogglesACheckBoxAndDoubleClickRenamesTheRow) {
    cdtest::UseImages({ThreeTrackImage()});
    Start();
    QTreeWidget* list = form_->ListView();
    ClickRow(0);
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked) << "a plain click leaves it";
    ClickRow(2, Qt::ControlModifier);
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Unchecked);
    ClickRow(2, Qt::ControlModifier);
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked);

    QSignalSpy rename(form_->Action("aEditTrackName"), &QAction::triggered);
    const QRect rect = list->visualItemRect(list->topLevelItem(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      rect.center()); // a double click's first
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(rename.count(), 1);
    EXPECT_EQ(list->selectedItems().value(0), list->topLevelItem(1));
}

TEST_F(MainWindowCommands, TheFolderButtonOpensTheOutputFolderOrSaysItIsMissing) {
    cdtest::UseImages({ThreeTrackImage()});
    Start();
    const std::string folder = images_.Path() + "/out";
    settings::Settings.CommonOptions.OutputFolder = folder;
    QTest::mouseClick(ToolButton("Folder"), Qt::LeftButton);
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text.toStdString(),
              folder + ",The output directory does not exist.");
    EXPECT_EQ(dialogs_->boxes[0].icon, platform::MbIcon::Error);
    EXPECT_TRUE(shell_->requests.isEmpty());

    fs::create_directory(folder);
    form_->Action("Openoutputdirectory1")->trigger();
    ASSERT_EQ(shell_->requests.size(), 1);
    EXPECT_EQ(shell_->requests[0].target.toStdString(), folder);
    EXPECT_EQ(dialogs_->boxes.size(), 1);

    // On a disc image the tray commands do nothing at all.
    form_->Action("EjectMenu")->trigger();
    form_->Action("CloseCdRomMenu")->trigger();
    EXPECT_EQ(form_->ListView()->topLevelItemCount(), 3);
    EXPECT_EQ(dialogs_->boxes.size(), 1);
}

// Like the help, the folder says so when no program could show it, instead of nothing.
TEST_F(MainWindowCommands, TheFolderCommandSaysWhenNoProgramCouldShowTheFolder) {
    Start();
    const std::string folder = images_.Path();
    settings::Settings.CommonOptions.OutputFolder = folder;
    shell_->answer = false;
    form_->Action("Openoutputdirectory1")->trigger();
    ASSERT_EQ(shell_->requests.size(), 1);
    EXPECT_EQ(shell_->requests[0].target.toStdString(), folder);
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text.toStdString(),
              "No program to show the folder was found. The output folder is " + folder + ".");
    EXPECT_EQ(dialogs_->boxes[0].icon, platform::MbIcon::Error);
}

TEST_F(MainWindowCommands, VolumeControlStartsPavucontrolOrSaysItIsNotInstalled) {
    Start();
    form_->Action("VolumeControlMenu")->trigger();
    ASSERT_EQ(shell_->requests.size(), 1);
    EXPECT_EQ(shell_->requests[0].program, "pavucontrol");
    EXPECT_TRUE(shell_->requests[0].arguments.isEmpty());
    EXPECT_TRUE(dialogs_->boxes.isEmpty());

    shell_->answer = false;
    form_->Action("VolumeControlMenu")->trigger();
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text, platform::VolumeControlMissingText());
}

TEST_F(MainWindowCommands, ClearHistoryDeletesThePlayersListsAndAsksFirstWhileOneRuns) {
    const std::string clip = "[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\"
                             "MostRecentClips";
    std::string hive = "WINE REGISTRY Version 2\n\n";
    for (int n : {1, 2, 3, 5}) { // 4 is missing: the deletes stop there
        hive += clip + std::to_string(n) + "] 1700000000\n@=\"file://a.rm\"\n\n";
    }
    hive += "[Software\\\\Microsoft\\\\MediaPlayer\\\\Player\\\\RecentFileList] 1700000000\n"
            "\"File0\"=\"a.wma\"\n\"File1\"=\"b.wma\"\n\"File3\"=\"d.wma\"\n\n";
    images_.WriteText("user.reg", hive);
    testsupport::ScopedEnv prefix("WINEPREFIX", images_.Path().c_str());
    Start();
    const struct {
        const char* item;
        QString message;
    } cases[] = {
        {"miRealOnePlayer", "3 list records are deleted!"},
        {"miWindowsMediaPlayer", "2 list records are deleted!"},
        {"miRealOnePlayer", "0 list records are deleted!"},
        {"miWindowsMediaPlayer", "0 list records are deleted!"},
    };
    for (const auto& c : cases) {
        dialogs_->boxes.clear();
        form_->Action(c.item)->trigger();
        EXPECT_EQ(dialogs_->BoxTexts(), QStringList({c.message})) << c.item;
    }
    const std::string left = testsupport::ReadText(images_.File("user.reg"));
    EXPECT_NE(left.find("MostRecentClips5]"), std::string::npos);
    EXPECT_EQ(left.find("MostRecentClips1]"), std::string::npos);
    EXPECT_NE(left.find("\"File3\"=\"d.wma\""), std::string::npos);

    // While RealPlayer runs the user is asked first; No (the default) deletes nothing.
    images_.WriteText("user.reg", hive);
    const std::string player = images_.File("realplay.exe");
    fs::copy_file("/bin/sleep", player);
    pid_t pid = -1;
    std::string program = player;
    std::string seconds = "30";
    char* argv[] = {program.data(), seconds.data(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, player.c_str(), nullptr, nullptr, argv, environ), 0);
    ASSERT_TRUE(testsupport::WaitUntil([] { return platform::IsProgramRunning("realplay.exe"); },
                                       std::chrono::seconds(2)));
    dialogs_->boxes.clear();
    form_->Action("miRealOnePlayer")->trigger();
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList({"Please close RealOne Player firstly.Continue?"}));
    EXPECT_EQ(dialogs_->boxes[0].buttons, platform::MbButtons::YesNo);
    EXPECT_EQ(testsupport::ReadText(images_.File("user.reg")), hive);
    dialogs_->answers.push_back(platform::MbResult::Yes);
    form_->Action("miRealOnePlayer")->trigger();
    EXPECT_EQ(dialogs_->BoxTexts().last(), "3 list records are deleted!");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST_F(MainWindowCommands, ExitClosesTheWindowWhichSavesTheSettings) {
    cdtest::UseImages({ThreeTrackImage()});
    Start();
    QTest::mouseClick(ToolButton("Exit"), Qt::LeftButton);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(fs::exists(home_.File("options.ini")));
    EXPECT_TRUE(fs::exists(home_.File("cdinfo.dat")));
}

} // namespace
