// The full-length tags' switches in their own section of options.ini, and the panel on the
// Options dialog's ID3 page that sets them and chooses the disc's cover.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "settings/CoverChoice.h"
#include "settings/Global.h"
#include "settings/OptionSet.h"
#include "settings/TagsPanel.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

TEST(TagsSettings, TheSwitchesAreReadFromTheirSectionWithTheirDefaults) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    struct Case {
        const char* options;
        bool id3v2;
        bool vorbis;
        bool saveCover;
    };
    const Case cases[] = {
        {"", true, true, false},
        {"[Tags]\nID3v2=0\n", false, true, false},
        {"[Tags]\nVorbisComments=0\nSaveCover=1\n", true, false, true},
        {"[Tags]\nID3v2=1\nVorbisComments=1\nSaveCover=0\n", true, true, false},
    };
    for (const Case& c : cases) {
        home.WriteText("options.ini", c.options);
        Settings = TSettings{};
        Settings.Tags = {!c.id3v2, !c.vorbis, !c.saveCover};
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.Tags.ID3v2, c.id3v2) << c.options;
        EXPECT_EQ(Settings.Tags.VorbisComments, c.vorbis) << c.options;
        EXPECT_EQ(Settings.Tags.SaveCover, c.saveCover) << c.options;
    }
    Settings.Tags = {false, true, true};
    LoadSaveOptions(false);
    const std::string text = testsupport::ReadText(home.File("options.ini"));
    EXPECT_NE(text.find("[Tags]\nID3v2=0\nVorbisComments=1\nSaveCover=1\n"), std::string::npos)
        << text;
    Settings = TSettings{};
}

TEST(TagsSettings, TheId3PageSetsTheSwitchesAndTheCoverAndOnlyOkStoresThem) {
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder output;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    testsupport::ScopedDialogs scripted;
    const std::string image = output.File("front.png");
    QImage picture(300, 150, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(image)));
    for (const bool ok : {true, false}) {
        Settings = TSettings{};
        DiscInfo = TDiscInfo{};
        Settings.CommonOptions.OutputFolder = output.Path();
        DiscInfo.CoverFile = "/old/cover.jpg";
        TOptionSetForm form(nullptr, [](int) {});
        TTagsPanel* panel = form.TagsPanel;
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(form.TabSheet4->isAncestorOf(panel)) << "not on the ID3 page";
        EXPECT_TRUE(panel->cbID3v2->isChecked());
        EXPECT_TRUE(panel->cbVorbisComments->isChecked());
        EXPECT_FALSE(panel->cbSaveCover->isChecked());
        EXPECT_EQ(panel->Cover->File(), "/old/cover.jpg");
        EXPECT_EQ(panel->Cover->imgCover->text(), "Missing");

        panel->cbID3v2->setChecked(false);
        panel->cbSaveCover->setChecked(true);
        scripted.get()->openAnswers.push_back({QString::fromStdString(image)});
        panel->Cover->bCover->click();
        EXPECT_EQ(panel->Cover->File(), image);
        const QPixmap thumbnail = panel->Cover->imgCover->pixmap();
        EXPECT_EQ(thumbnail.width(), TCoverChoice::ThumbnailSide);
        EXPECT_EQ(thumbnail.height(), TCoverChoice::ThumbnailSide / 2);
        (ok ? form.btOk : form.btCancel)->click();
        EXPECT_EQ(Settings.Tags.ID3v2, !ok);
        EXPECT_EQ(Settings.Tags.SaveCover, ok);
        EXPECT_EQ(DiscInfo.CoverFile, ok ? image : "/old/cover.jpg");
    }
    Settings = TSettings{};
    DiscInfo = TDiscInfo{};
}

TEST(TagsSettings, ReplayGainIsOffUntilItsSectionOrTheId3PageTurnsItOn) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    struct Case {
        const char* options;
        bool enabled;
    };
    const Case cases[] = {{"", false},
                          {"[ReplayGain]\nEnabled=1\n", true},
                          {"[ReplayGain]\nEnabled=0\n", false},
                          {"[Tags]\nEnabled=1\n", false}};
    for (const Case& c : cases) {
        home.WriteText("options.ini", c.options);
        Settings = TSettings{};
        Settings.ReplayGain.Enabled = !c.enabled;
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.ReplayGain.Enabled, c.enabled) << c.options;
    }
    Settings.ReplayGain.Enabled = true;
    LoadSaveOptions(false);
    const std::string text = testsupport::ReadText(home.File("options.ini"));
    EXPECT_NE(text.find("[ReplayGain]\nEnabled=1\n"), std::string::npos) << text;

    testsupport::ScopedDialogs scripted;
    for (const bool ok : {true, false}) {
        Settings = TSettings{};
        Settings.CommonOptions.OutputFolder = home.Path();
        TOptionSetForm form(nullptr, [](int) {});
        QCheckBox* check = form.TagsPanel->cbReplayGain;
        ASSERT_NE(check, nullptr);
        EXPECT_TRUE(form.TabSheet4->isAncestorOf(check));
        EXPECT_FALSE(check->isChecked());
        check->setChecked(true);
        (ok ? form.btOk : form.btCancel)->click();
        EXPECT_EQ(Settings.ReplayGain.Enabled, ok);
    }
    Settings = TSettings{};
    DiscInfo = TDiscInfo{};
}

TEST(TagsSettings, ACoverThatIsNoImageIsRefusedAndNoCoverClearsTheChoice) {
    testsupport::ScratchFolder folder;
    testsupport::ScopedDialogs scripted;
    const std::string image = folder.File("front.jpg");
    ASSERT_TRUE(QImage(50, 50, QImage::Format_RGB32).save(QString::fromStdString(image)));
    const std::string text = folder.WriteText("cover.jpg", "not pixels\n");

    TCoverChoice choice;
    choice.SetFile(image);
    EXPECT_TRUE(choice.bNoCover->isEnabled());
    EXPECT_FALSE(choice.imgCover->pixmap().isNull());
    scripted.get()->openAnswers.push_back({QString::fromStdString(text)});
    choice.bCover->click();
    EXPECT_EQ(choice.File(), image) << "the refused file replaced the choice";
    ASSERT_EQ(scripted.get()->BoxTexts().size(), 1);
    EXPECT_TRUE(scripted.get()->BoxTexts().front().contains("is not an image"));

    scripted.get()->openAnswers.push_back({}); // the dialog cancelled
    choice.bCover->click();
    EXPECT_EQ(choice.File(), image);

    choice.bNoCover->click();
    EXPECT_EQ(choice.File(), "");
    EXPECT_FALSE(choice.bNoCover->isEnabled());
    EXPECT_TRUE(choice.imgCover->pixmap().isNull());
    EXPECT_EQ(choice.imgCover->text(), "No cover");
}

// The ID3 page's edits hold 30 characters; a longer album or artist from a lookup must not
// be cut by merely pressing OK, while whatever the user types is stored.
TEST(TagsSettings, OkKeepsALongValueTheUserDidNotEdit) {
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder output;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    testsupport::ScopedDialogs scripted;
    const std::string longAlbum = "Songs From the Long Road \xe2\x80\x93 Live 1999 to 2003";
    const struct {
        const char* typed; // nullptr: left alone
        std::string stored;
    } cases[] = {
        {nullptr, longAlbum},
        {"Short", "Short"},
        {"", ""},
    };
    for (const auto& c : cases) {
        Settings = TSettings{};
        Settings.CommonOptions.OutputFolder = output.Path();
        DiscInfo = TDiscInfo{};
        DiscInfo.Album = longAlbum;
        TOptionSetForm form(nullptr, [](int) {});
        EXPECT_EQ(form.ID3album->text().size(), 30);
        if (c.typed != nullptr) {
            form.ID3album->selectAll();
            QTest::keyClick(form.ID3album, Qt::Key_Backspace);
            QTest::keyClicks(form.ID3album, c.typed);
        }
        form.btOk->click();
        EXPECT_EQ(DiscInfo.Album, c.stored) << (c.typed ? c.typed : "(untouched)");
    }
    Settings = TSettings{};
    DiscInfo = TDiscInfo{};
}

} // namespace
