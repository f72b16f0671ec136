#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QTreeWidget>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/MainWindowFixture.h"
#include "cd/CddbServer.h"
#include "cd/VerifyFilesForm.h"

#include "cd/akrip32.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/rip.h"
#include "platform/IniFile.h"
#include "settings/Global.h"
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace fs = std::filesystem;

using apptest::MainWindow;

namespace {

using apptest::kSecond;

TEST_F(MainWindow, ADiscImageIsListedWithCheckedRowsLengthsAndSizes) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    EXPECT_EQ(form.windowTitle(), "Vellorine 2.5");
    EXPECT_EQ(form.StatusText(), "IMAGEDemo Disc");
    EXPECT_EQ(form.IdleStatusText(), "IMAGEDemo Disc");
    EXPECT_NE(form.CDHandle(), 0);
    EXPECT_EQ(Column(0), QStringList({"1", "2", "3"}));
    EXPECT_EQ(Column(1), QStringList({"Track01", "Track02", "Track03"}));
    EXPECT_EQ(Column(2), QStringList({"04:05", "01:02", "03:01"}));
    EXPECT_EQ(Column(3), QStringList({"41.22", "10.43", "30.45"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form.ListView()->topLevelItem(i)->checkState(0), Qt::Checked);
    }
    EXPECT_EQ(form.NoDeviceHintCount(), 0);
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST_F(MainWindow, ThePlaceSizeAndColumnWidthsOfTheWindowAreRememberedBetweenRuns) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    EXPECT_EQ(form.size(), QSize(551, 501)); // the designed size until something is stored
    form.resize(640, 420);
    form.move(40, 60);
    form.ListView()->setColumnWidth(1, 321);
    form.close();
    form_.reset();

    auto& again = Start();
    EXPECT_EQ(again.size(), QSize(640, 420));
    EXPECT_EQ(again.pos(), QPoint(40, 60));
    EXPECT_EQ(again.ListView()->columnWidth(1), 321);
    EXPECT_EQ(again.ListView()->columnWidth(0), 90);
    again.close();
}

TEST_F(MainWindow, ClosingStoresTheTitlesUnderTheDiscKeyAndAllSettings) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    form.ListView()->topLevelItem(1)->setText(1, "Renamed");
    const std::string key = settings::DiscKey();
    ASSERT_FALSE(key.empty());
    form.close();
    platform::IniFile info(home_.File("cdinfo.dat"));
    EXPECT_EQ(info.ReadInteger(key, "TrackNumber", 0), 3);
    EXPECT_EQ(info.ReadString(key, "1", ""), "Track01");
    EXPECT_EQ(info.ReadString(key, "2", ""), "Renamed");
    EXPECT_EQ(info.ReadString(key, "3", ""), "Track03");
    EXPECT_NE(ReadHome("options.ini").find("[ID3]\nUse=0\n"), std::string::npos);

    // The next start shows the stored title.
    form_.reset();
    auto& again = Start();
    EXPECT_EQ(Column(1), QStringList({"Track01", "Renamed", "Track03"}));
    again.close();
}

TEST_F(MainWindow, AFailedDiscInfoSaveStillClosesTheDeviceAndSavesTheSettings) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    home_.WriteText("cdinfo.dat", "[x]\n");
    fs::permissions(home_.File("cdinfo.dat"), fs::perms::owner_read);
    const int handle = form.CDHandle();
    form.close();
    EXPECT_TRUE(fs::exists(home_.File("options.ini")));
    EXPECT_EQ(cd::CloseCDHandle(handle), 0) << "the handle was closed at exit";
    EXPECT_EQ(ReadHome("cdinfo.dat"), "[x]\n");
}

TEST_F(MainWindow, WithoutAnyDeviceTheHintAppearsOncePerReturnToTheWindow) {
    auto& form = Start();
    EXPECT_EQ(form.StatusText(), "No CD devices found!");
    EXPECT_EQ(form.CDHandle(), 0);
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);
    EXPECT_EQ(form.NoDeviceHintCount(), 1);
    ASSERT_EQ(dialogs_->modalDialogs.size(), 1);
    // Closing the hint re-activates the window: no second hint for that.
    Activate();
    EXPECT_EQ(form.NoDeviceHintCount(), 1);
    // The user leaves and comes back: the hint is shown again.
    Deactivate();
    Activate();
    EXPECT_EQ(form.NoDeviceHintCount(), 2);
    form.close();
    EXPECT_TRUE(fs::exists(home_.File("options.ini")));
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST_F(MainWindow, AnImageThatCannotBeReadIsNamedInsteadOfLookingLikeNoDrive) {
    images_.WriteText("broken.cue", "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n");
    images_.WriteText("garbage.cue", "this is no cue sheet\n");
    const struct {
        std::string image;
        std::string status;
    } cases[] = {
        {images_.File("broken.cue"),
         "The disc image \"" + images_.File("broken.cue") +
             "\" cannot be read: its data file \"missing.bin\" is missing."},
        {images_.File("garbage.cue"), "The disc image \"" + images_.File("garbage.cue") +
                                          "\" cannot be read: it is not a valid cue sheet."},
        {images_.File("absent.cue"), "No CD devices found!"},
    };
    for (const auto& c : cases) {
        cdtest::UseImages({c.image});
        auto& form = Start();
        EXPECT_EQ(form.StatusText().toStdString(), c.status);
        EXPECT_EQ(form.CDHandle(), 0);
        EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);
        form_.reset();
    }
}

TEST_F(MainWindow, ANamedImageComesFirstShowsItsUtf8NameAndTellsOnceWhatItLacks) {
    const std::string cue = cdtest::MakeImage(images_, "Chœur été", {150, 150, 150});
    fs::resize_file(images_.File("Chœur été.bin"), 225 * 2352);
    cdtest::UseImages({cue});
    testsupport::ScopedEnv drives("VELLORINE_NO_CD_DRIVES", ""); // physical drives come after
    auto& form = Start();
    EXPECT_EQ(form.StatusText(), QString::fromUtf8("IMAGEChœur été"));
    EXPECT_EQ(Column(2), QStringList({"00:02", "00:01"})) << "no negative length";
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text.toStdString(),
              "The disc image \"" + cue +
                  "\" ends before its last track: only tracks 1 to 2 "
                  "are listed.");
    form.bRefreshClick();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs_->boxes.size(), 1) << "told once";
}

TEST_F(MainWindow, ADataOnlyDiscShowsThatNoAudioCDWasFound) {
    cdtest::UseImages({cdtest::MakeImage(images_, "data", {300}, "--data-track-first")});
    auto& form = Start();
    EXPECT_NE(form.CDHandle(), 0);
    EXPECT_TRUE(form.NoAudioCD());
    EXPECT_EQ(form.StatusText(), "Can not find audio CD in your CD device.");
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);
    EXPECT_EQ(form.NoDeviceHintCount(), 0);
}

TEST_F(MainWindow, MediaChangesClearAndRefillTheListAndRefreshFindsTheDisc) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    form.DeviceChange(0x8004, 2);
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);
    form.DeviceChange(0x8000, 3); // not a volume
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);
    form.DeviceChange(0x8000, 2);
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 3);

    form.SetStatusText("Can not find audio CD in your CD device.");
    form.ListView()->clear();
    form.bRefreshClick();
    EXPECT_EQ(form.ListView()->topLevelItemCount(), 3);
    EXPECT_EQ(form.StatusText(), "IMAGEDemo Disc");
}

TEST_F(MainWindow, SelectAllAndNoneSetEveryCheckBox) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    form.Action("ActionNoSelect")->trigger();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form.ListView()->topLevelItem(i)->checkState(0), Qt::Unchecked);
    }
    form.Action("ActionSelectAll")->trigger();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form.ListView()->topLevelItem(i)->checkState(0), Qt::Checked);
    }
}

// The real program, stopped the way a logout stops it.
TEST_F(MainWindow, TerminationSignalClosesTheProgramAsTheUserWould) {
    const std::string cue = ThreeTrackImage("Signal");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("VELLORINE_CD_IMAGES", cue.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(VELLORINE_BINARY_DIR "/vellorine", "vellorine", nullptr);
        _exit(127);
    }
    // Ready once SIGTERM is caught rather than fatal.
    const bool ready = testsupport::WaitUntil(
        [pid] {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("SigCgt:", 0) == 0) {
                    return ((std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1) != 0;
                }
            }
            return false;
        },
        std::chrono::seconds(5));
    ASSERT_TRUE(ready);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "the program ended by itself";
    const std::string options = ReadHome("options.ini");
    EXPECT_EQ(options.find("[CommonOptions]"), 0u);
    EXPECT_NE(options.find("[ID3]"), std::string::npos);
    EXPECT_NE(ReadHome("cdinfo.dat").find("TrackNumber=3\n1=Track01\n2=Track02\n3=Track03"),
              std::string::npos);
}

} // namespace

namespace {

TEST_F(MainWindow, ClosingStopsARunningEncoderChild) {
    auto& form = Start();
    ASSERT_TRUE(jobs::Mp3Process);
    const std::string wav = images_.File("long.wav");
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 120 sine 440").c_str()),
              0);
    jobs::Mp3Process->Active = true;
    jobs::Mp3Process->NotifyWindow = &form;
    jobs::Mp3Process->InputFile = wav;
    jobs::Mp3Process->OutputFile = images_.File("long.mp3");
    jobs::Mp3Process->EncodeMode = true;
    jobs::Mp3Process->JobKind = jobs::jkExtract;
    jobs::Mp3Process->Start();
    const pid_t child = jobs::Mp3Process->ChildPid();
    ASSERT_GT(child, 0);
    form.close();
    EXPECT_FALSE(jobs::Mp3Process->Active);
    EXPECT_EQ(kill(child, 0), -1) << "lame was killed and reaped";
    form_.reset();
    EXPECT_FALSE(jobs::Mp3Process) << "the window frees the encoder objects";
    EXPECT_FALSE(jobs::WmaProcess);
}

TEST_F(MainWindow, TheToolEntriesOpenTheirWindowsModallyWithTheMainWindowAsOwner) {
    app::TMainForm& form = Start();
    struct Opened {
        QString title;
        QWidget* owner;
    };
    std::vector<Opened> opened;
    dialogs_->onModal = [&](QWidget* window) {
        opened.push_back({window->windowTitle(), window->parentWidget()});
        return 0;
    };
    for (const char* entry : {"miWAVtoWAV", "miOGGPlayer"}) {
        auto* action = form.findChild<QAction*>(entry);
        ASSERT_NE(action, nullptr) << entry;
        EXPECT_TRUE(action->isEnabled()) << entry;
        action->trigger();
    }
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].title, "WAV to WAV");
    EXPECT_EQ(opened[1].title, "Ogg Player");
    EXPECT_EQ(opened[0].owner, &form);
    EXPECT_EQ(opened[1].owner, &form);
}

} // namespace

namespace {

using apptest::MainWindow;

TEST_F(MainWindow, VerifyFilesOpensModallyOnTheDiscInTheDriveAndChecksTheOutputFolder) {
    cdtest::UseImages({ThreeTrackImage()});
    app::TMainForm& form = Start();
    // After the start, which reads the settings.
    cdtest::ScratchFolder output;
    settings::Settings.CommonOptions.OutputFolder = output.Path();
    // Nobody answers: no check of this test may reach a real database.
    const std::string nobody = "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort());
    settings::Settings.SecureRip.AccurateRipServer = nobody;
    settings::Settings.SecureRip.CTDBServer = nobody;
    ASSERT_EQ(form.ListView()->topLevelItemCount(), 3);

    // The entry comes last in the Actions menu, after the designed ones.
    QMenu* actions = nullptr;
    for (QAction* menu : form.menuBar()->actions()) {
        if (menu->text() == "&Actions") {
            actions = menu->menu();
        }
    }
    ASSERT_NE(actions, nullptr);
    ASSERT_FALSE(actions->actions().isEmpty());
    QAction* entry = actions->actions().back();
    EXPECT_EQ(entry->objectName(), "miVerifyFiles");
    EXPECT_EQ(entry, form.Action("miVerifyFiles"));

    QStringList results;
    QString title;
    QWidget* owner = nullptr;
    dialogs_->onModal = [&](QWidget* window) {
        title = window->windowTitle();
        owner = window->parentWidget();
        auto* verifyForm = qobject_cast<cd::VerifyFilesForm*>(window);
        if (!verifyForm) {
            ADD_FAILURE() << "not the Verify Files window";
            return 0;
        }
        EXPECT_EQ(testsupport::Child<QComboBox>(window, "SourceBox")->currentIndex(),
                  cd::VerifyFilesForm::FromDrive);
        EXPECT_EQ(testsupport::Child<QLineEdit>(window, "FolderEdit")->text().toStdString(),
                  output.Path());
        QTest::mouseClick(testsupport::Child<QPushButton>(window, "VerifyButton"), Qt::LeftButton);
        EXPECT_TRUE(testsupport::PumpUntil([&] { return verifyForm->Report().has_value(); }));
        auto* table = testsupport::Child<QTableWidget>(window, "ResultTable");
        for (int row = 0; row < table->rowCount(); ++row) {
            results << table->item(row, 2)->text();
        }
        return 0;
    };
    entry->trigger();
    EXPECT_EQ(title, "Verify Files");
    EXPECT_EQ(owner, &form);
    EXPECT_EQ(results, QStringList({"missing file", "missing file", "missing file"}));
}

} // namespace
