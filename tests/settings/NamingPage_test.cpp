// The naming options: stored in their own section, and set on the Options dialog's "Naming"
// page, whose example follows the template as it is typed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include <filesystem>

#include "settings/Global.h"
#include "settings/NamingPage.h"
#include "settings/OptionSet.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

TEST(NamingSettings, AreReadWithTheDesignedDefaultsAndWrittenInTheirSection) {
    testsupport::ScratchFolder home;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    struct Case {
        const char* options;
        TNaming naming;
    };
    const Case cases[] = {
        {"", {"%t", false, false}},
        {"[Naming]\nTemplate=%a/%l/%n - %t\nPlaylist=1\n", {"%a/%l/%n - %t", true, false}},
        {"[Naming]\nCueSheet=1\n", {"%t", false, true}},
        {"[Naming]\nSingleFile=1\n", {"%t", false, false, true, false}},
        {"[Naming]\nHiddenTrack=1\nSingleFile=0\n", {"%t", false, false, false, true}},
    };
    for (const Case& c : cases) {
        home.WriteText("options.ini", c.options);
        Settings = TSettings{};
        Settings.Naming = {"stale", true, true, true, true};
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.Naming.Template, c.naming.Template) << c.options;
        EXPECT_EQ(Settings.Naming.Playlist, c.naming.Playlist) << c.options;
        EXPECT_EQ(Settings.Naming.CueSheet, c.naming.CueSheet) << c.options;
        EXPECT_EQ(Settings.Naming.SingleFile, c.naming.SingleFile) << c.options;
        EXPECT_EQ(Settings.Naming.HiddenTrack, c.naming.HiddenTrack) << c.options;
    }
    Settings.Naming = {"%A/%l (%y)/%n - %t", true, false, true, false};
    std::filesystem::remove(home.File("options.ini"));
    LoadSaveOptions(false);
    const std::string text = testsupport::ReadText(home.File("options.ini"));
    EXPECT_NE(text.find("[Naming]\nTemplate=%A/%l (%y)/%n - %t\nPlaylist=1\nCueSheet=0\n"
                        "SingleFile=1\nHiddenTrack=0\n"),
              std::string::npos)
        << text;
    Settings = TSettings{};
}

TEST(NamingSettings, TheDiscsFieldsPreferTheTracksOwnArtist) {
    TDiscInfo disc;
    disc.Artist = "Band";
    disc.Album = "Live";
    disc.Genre = 0; // the first name of the list
    disc.Titles[2] = "Two";
    disc.TrackArtists[2] = "Guest";
    const TNameFields two = NameFieldsOf(disc, 2);
    EXPECT_EQ(two.Title, "Two");
    EXPECT_EQ(two.Artist, "Guest");
    EXPECT_EQ(two.AlbumArtist, "Band") << "the disc's artist stands in";
    EXPECT_EQ(two.Genre, GenreNames[0]);
    const TNameFields one = NameFieldsOf(disc, 1);
    EXPECT_EQ(one.Artist, "Band");
    disc.AlbumArtist = "Various";
    disc.Genre = -1;
    EXPECT_EQ(NameFieldsOf(disc, 1).AlbumArtist, "Various");
    EXPECT_EQ(NameFieldsOf(disc, 1).Genre, "");
}

TEST(NamingSettings, ThePageShowsAnExampleAndOnlyOkStoresTheTemplate) {
    testsupport::ScratchFolder home;
    testsupport::ScratchFolder output;
    const testsupport::ScopedEnv env{"VELLORINE_HOME", home.Path().c_str()};
    testsupport::ScopedDialogs scripted;
    for (const bool ok : {true, false}) {
        Settings = TSettings{};
        Settings.CommonOptions.OutputFolder = output.Path();
        Settings.CommonOptions.OutputFormat = TOutputFormat::ofOgg;
        DiscInfo = TDiscInfo{};
        DiscInfo.Artist = "Band";
        DiscInfo.Album = "Live";
        DiscInfo.Titles[1] = "AC/DC";
        TOptionSetForm form(nullptr, [](int) {});
        ASSERT_NE(form.TabSheet9, nullptr);
        EXPECT_EQ(form.PageControl1->tabText(form.PageControl1->indexOf(form.TabSheet9)), "Naming");
        TNamingPage& page = *form.TabSheet9;
        EXPECT_EQ(page.cbTemplate->currentText(), "%t");
        EXPECT_EQ(page.lbExample->text(), "AC-DC.ogg");
        EXPECT_GE(page.cbTemplate->findText("%a/%l/%n - %t"), 0);
        page.cbTemplate->setEditText("%a/%l/%n - %t");
        EXPECT_EQ(page.lbExample->text(), "Band/Live/01 - AC-DC.ogg");
        page.ckPlaylist->setChecked(true);
        EXPECT_FALSE(page.ckSingleFile->isChecked());
        page.ckSingleFile->setChecked(true);
        EXPECT_EQ(page.lbExample->text(), "Band/Live/Band - Live.wav") << "an OGG rip gives WAV";
        page.ckHiddenTrack->setChecked(true);
        (ok ? form.btOk : form.btCancel)->click();
        EXPECT_EQ(Settings.Naming.Template, ok ? "%a/%l/%n - %t" : "%t");
        EXPECT_EQ(Settings.Naming.Playlist, ok);
        EXPECT_EQ(Settings.Naming.SingleFile, ok);
        EXPECT_EQ(Settings.Naming.HiddenTrack, ok);
    }
    Settings = TSettings{};
    DiscInfo = TDiscInfo{};
}

} // namespace
