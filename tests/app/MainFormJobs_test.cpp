// Extract and the file conversions, driven through the real main window: its key, actions
// and menus, the scripted dialogs, and the real job window run modally to its end.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "app/MainForm.h"
#include "cd/DiscImages.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace fs = std::filesystem;

namespace {

class MainWindowJobs : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::getenv("PATH");
        // The built WMA encoder, found as the installed program finds it.
        setenv("PATH", (std::string(VELLORINE_BINARY_DIR) + ":" + path_).c_str(), 1);
        cdtest::UseImages({});
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
        // The job window runs its real modal loop; other windows are dismissed.
        dialogs->onModal = [this](QWidget* w) {
            if (w->objectName() != "RipForm") {
                return 0; // the no-device hint and the like
            }
            ++modalRuns;
            return static_cast<QDialog*>(w)->exec();
        };
        out = fs::path(work.Path()) / "out";
    }
    void TearDown() override {
        form.reset();
        setenv("PATH", path_.c_str(), 1);
    }

    // The program's files as a user would have them: options naming the output folder
    // (and ID3 on), and the disc's titles and tag values in cdinfo.dat.
    void WriteProgramFiles(const std::string& discKey) {
        std::ofstream(home.File("options.ini"))
            << "[CommonOptions]\nOutputFolder=" << out.string() << "\nOutputFormat=0\n"
            << "[ID3]\nUse=1\n";
        std::ofstream(home.File("cdinfo.dat"))
            << "[" << discKey << "]\nArtist=The Band\nAlbum=Demo Disc\nYear=2003\nGenre="
            << settings::GenreIndexOf("Jazz") + 1
            << "\nComment=from cdinfo\nTrackNumber=3\n1=Morning\n2=Noon\n3=Night\n";
    }

    app::TMainForm& Start() {
        form = std::make_unique<app::TMainForm>();
        form->show();
        QApplication::setActiveWindow(form.get());
        return *form;
    }
    void OpenDisc() { cdtest::UseImages({cdtest::MakeImage(work, "disc", {150, 150, 150})}); }
    std::string Tag(const std::string& file) const {
        return testsupport::RunCommand("id3v2 -l " + testsupport::Quoted((out / file).string()))
            .Output;
    }

    cdtest::ScratchFolder home;
    const testsupport::ScopedEnv homeEnv{"VELLORINE_HOME", home.Path().c_str()};
    cdtest::ScratchFolder work;
    fs::path out;
    std::string path_;
    const testsupport::ScopedDialogs scripted;
    platform::ScriptedDialogs* const dialogs = scripted.get();
    std::unique_ptr<app::TMainForm> form;
    int modalRuns = 0;
};

TEST_F(MainWindowJobs, CtrlXRipsTheCheckedTracksToTaggedMp3WithNoFurtherInput) {
    OpenDisc();
    fs::create_directories(out);
    WriteProgramFiles(settings::DiscKey());
    auto& main = Start();
    main.ListView()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QTest::keyClick(&main, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(modalRuns, 1);
    EXPECT_TRUE(dialogs->BoxTexts().isEmpty()) << dialogs->BoxTexts().join("\n").toStdString();
    EXPECT_TRUE(fs::exists(out / "Morning.mp3"));
    EXPECT_FALSE(fs::exists(out / "Noon.mp3"));
    EXPECT_FALSE(fs::exists(out / "Morning.wav"));
    const std::string tag = Tag("Night.mp3");
    EXPECT_NE(tag.find("Title  : Night "), std::string::npos) << tag;
    EXPECT_NE(tag.find("Artist: The Band"), std::string::npos) << tag;
    EXPECT_NE(tag.find("Year: 2003, Genre: Jazz (8)"), std::string::npos) << tag;
    EXPECT_NE(tag.find("Track: 3"), std::string::npos) << tag;
}

// Extract is enabled only with a checked row; each later refusal comes in its turn, shows
// its box and opens no job window.
TEST_F(MainWindowJobs, ExtractChecksComeInOrderAndEachRefusalStopsTheCommand) {
    struct Case {
        const char* name;
        bool disc;
        bool checked;
        std::string folder;
        platform::MbResult answer;
        bool zeroRipTime;
        QStringList boxes;
        bool folderAfter;
    };
    const fs::path missing = fs::path(work.Path()) / "new";
    const QString question = QString::fromStdString(missing.string()) +
                             ",The output directory does not exist.\r\ncreates a new directory?";
    const std::vector<Case> cases = {
        {"no device",
         false,
         true,
         work.Path(),
         platform::MbResult::Yes,
         false,
         {}, // no rows: Extract is disabled
         true},
        {"nothing checked",
         true,
         false,
         work.Path(),
         platform::MbResult::Yes,
         false,
         {}, // nothing checked: Extract is disabled
         true},
        {"folder declined",
         true,
         true,
         missing.string(),
         platform::MbResult::No,
         false,
         {question},
         false},
        {"folder created, zero seconds",
         true,
         true,
         missing.string(),
         platform::MbResult::Yes,
         true,
         {question, "You select to extract 0 second, please change it on Options dialog."},
         true},
        {"parent missing",
         true,
         true,
         (missing / "deeper").string(),
         platform::MbResult::Yes,
         false,
         {QString::fromStdString((missing / "deeper").string()) +
              ",The output directory does not exist.\r\ncreates a new directory?",
          "Cannot create " + QString::fromStdString((missing / "deeper").string()) + "."},
         false},
        {"empty folder setting", // not the working folder, nor the root
         true,
         true,
         "",
         platform::MbResult::Yes,
         false,
         {",The output directory does not exist.\r\ncreates a new directory?", "Cannot create "},
         false},
    };
    const std::string image = cdtest::MakeImage(work, "disc", {150});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(missing);
        cdtest::UseImages(c.disc ? std::vector<std::string>{image} : std::vector<std::string>{});
        auto& main = Start();
        dialogs->boxes.clear();
        dialogs->answers = {c.answer};
        settings::Settings.CommonOptions.OutputFolder = c.folder;
        settings::Settings.CommonOptions.EnableRipTime = c.zeroRipTime;
        settings::Settings.CommonOptions.RipTime = 0;
        if (!c.checked) {
            main.ListView()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        }
        EXPECT_EQ(main.Action("ActionExtract")->isEnabled(), c.disc && c.checked);
        main.Action("ActionExtract")->trigger();
        EXPECT_EQ(dialogs->BoxTexts(), c.boxes) << dialogs->BoxTexts().join("\n").toStdString();
        EXPECT_EQ(fs::exists(c.folder), c.folderAfter);
        EXPECT_EQ(modalRuns, 0);
        form.reset();
    }
}

// The conversions: each asks for files with its filter, then converts them into the
// output folder; without the folder they refuse.
TEST_F(MainWindowJobs, EachConversionAsksForFilesAndConvertsThemIntoTheOutputFolder) {
    struct Case {
        const char* action;
        const char* filter;
        const char* input;
        const char* output;
    };
    const std::string wav = work.File("tone.wav");
    ASSERT_EQ(testsupport::RunCommand("sox -n -r 44100 -c 2 -b 16 " + testsupport::Quoted(wav) +
                                      " synth 1 sine 440 vol 0.5")
                  .ExitCode,
              0);
    ASSERT_EQ(testsupport::RunCommand("lame --quiet " + testsupport::Quoted(wav) + " " +
                                      testsupport::Quoted(work.File("song.mp3")))
                  .ExitCode,
              0);
    ASSERT_EQ(testsupport::RunCommand("flac -s -o " + testsupport::Quoted(work.File("song.flac")) +
                                      " " + testsupport::Quoted(wav))
                  .ExitCode,
              0);
    const QString wavFilter = "Sound file(*.wav)|*.wav| Any file(*.*)|*.*";
    for (const Case& c : {Case{"ActionWavToMp3", "wav", "tone.wav", "tone.mp3"},
                          Case{"mnuMp3ToWav", "mp3", "song.mp3", "song.wav"},
                          Case{"miWAVtoOGG", "wav", "tone.wav", "tone.ogg"},
                          Case{"miWAVtoWMA", "wav", "tone.wav", "tone.wma"},
                          Case{"miWAVtoFLAC", "wav", "tone.wav", "tone.flac"},
                          Case{"miWAVtoOpus", "wav", "tone.wav", "tone.opus"},
                          Case{"miFLACtoWAV", "flac", "song.flac", "song.wav"}}) {
        SCOPED_TRACE(c.action);
        auto& main = Start();
        QAction* action = main.Action(c.action);
        if (action == nullptr) {
            action = main.findChild<QAction*>(c.action);
        }
        ASSERT_NE(action, nullptr);
        ASSERT_TRUE(action->isEnabled());
        const QStringList chosen = {QString::fromStdString(work.File(c.input))};

        for (const std::string& folder : {std::string(), out.string()}) { // empty, not there yet
            settings::Settings.CommonOptions.OutputFolder = folder;
            dialogs->boxes.clear();
            dialogs->openAnswers = {chosen};
            action->trigger();
            EXPECT_EQ(dialogs->BoxTexts(),
                      QStringList({"The output directory does not exist.Please check the "
                                   "output directory setting."}))
                << folder;
            EXPECT_EQ(modalRuns, 0);
        }
        settings::Settings.CommonOptions.OutputFolder = out.string();

        fs::create_directories(out);
        dialogs->boxes.clear();
        dialogs->openAnswers = {chosen};
        action->trigger();
        EXPECT_TRUE(dialogs->BoxTexts().isEmpty()) << dialogs->BoxTexts().join("\n").toStdString();
        EXPECT_EQ(modalRuns, 1);
        EXPECT_GT(fs::file_size(out / c.output), 1000u);
        ASSERT_FALSE(dialogs->fileRequests.isEmpty());
        const QString filter = std::string(c.filter) == "flac"
                                   ? "FLAC file(*.flac)|*.flac| Any file(*.*)|*.*"
                                   : "MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*";
        EXPECT_EQ(dialogs->fileRequests.back().filter,
                  std::string(c.filter) == "wav" ? wavFilter : filter);
        EXPECT_TRUE(dialogs->fileRequests.back().multiSelect);
        form.reset();
        fs::remove_all(out);
        dialogs->boxes.clear();
        dialogs->fileRequests.clear();
        modalRuns = 0;
    }
}

} // namespace

namespace {

// Titles are checked before the job starts: one that cannot name a file is refused while
// the user is there; any other goes to the job as it is (the file name is made from it there).
TEST(MainWindowTitles, ExtractRefusesEmptyTitlesBeforeTheJobAndPassesOthersUnchanged) {
    struct Case {
        const char* what;
        QStringList titles;
        QList<bool> checked;
        const char* box; // empty: the job opens
        const char* jobCaption;
    };
    const Case cases[] = {
        {"plain titles", {"Morning", "Noon"}, {true, true}, "", "Extracting(01/02): Morning"},
        {"a slash stays in the title",
         {"AC/DC", "Remix / Edit"},
         {true, true},
         "",
         "Extracting(01/02): AC/DC"},
        {"an empty title",
         {"Morning", ""},
         {true, true},
         "The title of track 2 is empty: no file can be named after it. Please rename the "
         "Title in the CD tracks list.",
         ""},
        {"two empty titles",
         {"", "", "Night"},
         {true, true, true},
         "The titles of tracks 1, 2 are empty: no file can be named after them. Please rename "
         "the Title in the CD tracks list.",
         ""},
        {"an empty title left unchecked",
         {"", "Noon"},
         {false, true},
         "",
         "Extracting(01/01): Noon"},
    };
    for (const Case& c : cases) {
        cdtest::ScratchFolder work;
        cdtest::ScratchFolder home;
        const testsupport::ScopedEnv homeEnv{"VELLORINE_HOME", home.Path().c_str()};
        const testsupport::ScopedDialogs scripted;
        std::vector<int> frames(static_cast<std::size_t>(c.titles.size()), 75);
        cdtest::UseImages({cdtest::MakeImage(work, "disc", frames)});
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
        QStringList captions;
        scripted.get()->onModal = [&](QWidget* w) {
            captions << w->windowTitle();
            return 0;
        };
        app::TMainForm main;
        main.show();
        settings::Settings.CommonOptions.OutputFolder = work.Path();
        for (int i = 0; i < c.titles.size(); ++i) {
            main.ListView()->topLevelItem(i)->setText(1, c.titles[i]);
            main.ListView()->topLevelItem(i)->setCheckState(0, c.checked[i] ? Qt::Checked
                                                                            : Qt::Unchecked);
        }
        main.Action("ActionExtract")->trigger();
        if (*c.box == '\0') {
            EXPECT_TRUE(scripted.get()->boxes.isEmpty()) << c.what;
            EXPECT_EQ(captions, QStringList({c.jobCaption})) << c.what;
        } else {
            EXPECT_EQ(scripted.get()->BoxTexts(), QStringList({c.box})) << c.what;
            EXPECT_EQ(scripted.get()->boxes.value(0).icon, platform::MbIcon::Information);
            EXPECT_TRUE(captions.isEmpty()) << c.what << ": no job window";
        }
        main.close();
    }
}

} // namespace
