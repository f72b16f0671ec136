// MusicBrainz from the main window: the Edit menu's command, and the automatic lookup a
// disc the record does not know gets when the settings ask for one.
#include "app/MainForm.h"
#include "app/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include "cd/DiscToc.h"
#include "cd/MbDiscId.h"
#include "cd/MbServer.h"
#include "cd/akrip32.h"
#include "platform/IniFile.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "tags/QueryMb.h"

namespace {

using cdtest::Answer;

const std::string kRelease = "33333333-3333-3333-3333-333333333333";

std::string Reply(const std::string& discId) {
    return "{\"releases\":[{\"id\":\"" + kRelease +
           "\",\"title\":\"Nachtzug\",\"date\":\"2011-03-04\",\"artist-credit\":[{\"name\":"
           "\"Die Gruppe\",\"joinphrase\":\"\"}],\"media\":[{\"position\":1,\"discs\":[{\"id\":\"" +
           discId +
           "\"}],\"tracks\":[{\"title\":\"Abfahrt\",\"recording\":{\"id\":\"rec-1\"}},"
           "{\"title\":\"Über die Brücke\",\"artist-credit\":[{\"name\":\"Gast\"}],"
           "\"recording\":{\"id\":\"rec-2\"}},{\"title\":\"Ankunft\",\"recording\":{\"id\":"
           "\"rec-3\"}}]}]}]}";
}

class QueryMusicBrainz : public apptest::MainWindow {
protected:
    // The image's disc id, read as the program reads it.
    std::string UseImage(const std::string& extra = "") {
        const std::string cue = cdtest::MakeImage(images_, "disc", {1500, 900, 1200}, extra);
        cdtest::UseImages({cue});
        const int handle = cdtest::OpenFirstDrive();
        const auto disc = cd::ReadDiscOf(handle);
        cd::CloseCDHandle(handle);
        return disc ? cd::MbDiscIdOf(*disc) : "";
    }
    void WriteOptions(const std::string& metadata) {
        std::ofstream(home_.File("options.ini")) << "[Metadata]\n" << metadata;
    }
    // Modal windows run for real; the names of those that opened are kept.
    void RunWindows() {
        dialogs_->onModal = [this](QWidget* w) {
            opened_ << w->objectName();
            return qobject_cast<QDialog*>(w)->exec();
        };
    }
    QStringList opened_;
};

TEST_F(QueryMusicBrainz, TheMenuCommandFillsTheListAndTheRecordReachesCdinfoAtClose) {
    const std::string id = UseImage();
    cdtest::MbServer mb({{"/ws/2/discid/" + id, {Answer(200, Reply(id))}}});
    WriteOptions("MusicBrainzServer=" + mb.Url() + "\nCoverArtServer=" + mb.Url() + "\n");
    RunWindows();
    auto& form = Start();
    EXPECT_TRUE(opened_.isEmpty()) << "the default settings look nothing up by themselves";
    ASSERT_TRUE(form.Action("aQueryMusicBrainz")->isEnabled());
    form.Action("aQueryMusicBrainz")->trigger();
    EXPECT_EQ(opened_, QStringList({"frmQueryMb"}));
    EXPECT_EQ(Column(1), QStringList({"Abfahrt", "Über die Brücke", "Ankunft"}));

    const std::string key = settings::DiscKey();
    form.close();
    platform::IniFile info(home_.File("cdinfo.dat"));
    EXPECT_EQ(info.ReadString(key, "Artist", ""), "Die Gruppe");
    EXPECT_EQ(info.ReadString(key, "Album", ""), "Nachtzug");
    EXPECT_EQ(info.ReadString(key, "Year", ""), "2011");
    EXPECT_EQ(info.ReadString(key, "2", ""), "Über die Brücke");
    EXPECT_EQ(info.ReadString(key, "MBReleaseId", ""), kRelease);
    EXPECT_EQ(info.ReadString(key, "Artist2", ""), "Gast");
    EXPECT_EQ(info.ReadString(key, "MBRecordingId3", ""), "rec-3");
}

TEST_F(QueryMusicBrainz, TheAutomaticLookupTriesTheOrderedSourcesUntilOneAnswers) {
    struct Case {
        const char* name;
        std::string metadata;
        bool known; // the disc's record already has values
        QStringList windows;
        QString firstTitle;
    };
    const std::vector<Case> cases = {
        {"musicbrainz answers", "Order=musicbrainz,cdtext\n", false, {"frmQueryMb"}, "Abfahrt"},
        {"musicbrainz off", "Order=musicbrainz\nMusicBrainz=0\n", false, {}, "Track01"},
        {"a known disc", "Order=musicbrainz\n", true, {}, "Track01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = UseImage();
        cdtest::MbServer mb({{"/ws/2/discid/" + id, {Answer(200, Reply(id))}}});
        WriteOptions(c.metadata + "MusicBrainzServer=" + mb.Url() + "\nCoverArtServer=\n");
        settings::DiscInfo = settings::TDiscInfo{};
        std::remove(home_.File("cdinfo.dat").c_str());
        if (c.known) {
            // A record from an earlier session, under the key the window will use.
            std::ofstream(home_.File("cdinfo.dat"))
                << "[" << settings::DiscKey() << "]\nArtist=Known\n";
        }
        opened_.clear();
        RunWindows();
        Start();
        testsupport::PumpUntil([&] { return opened_.size() >= c.windows.size(); },
                               std::chrono::seconds(10));
        testsupport::PumpUntil([&] { return Column(1).value(0) == c.firstTitle; },
                               std::chrono::seconds(5));
        EXPECT_EQ(opened_, c.windows);
        EXPECT_EQ(Column(1).value(0), c.firstTitle);
        form_->close();
        form_.reset();
    }
}

TEST_F(QueryMusicBrainz, WithoutAReleaseTheDiscsCdTextIsTheNextSource) {
    const std::string id =
        UseImage("--title 'Eigenes' --performer 'Band' --track-titles Eins Zwei Drei");
    cdtest::MbServer mb({{"/ws/2/discid/" + id, {Answer(404, "{}")}}});
    WriteOptions("Order=musicbrainz,cdtext\nMusicBrainzServer=" + mb.Url() + "\n");
    RunWindows();
    Start();
    testsupport::PumpUntil([&] { return Column(1).value(0) == "Eins"; }, std::chrono::seconds(10));
    EXPECT_EQ(opened_, QStringList({"frmQueryMb"})) << "the MusicBrainz window closed by itself";
    EXPECT_EQ(Column(1), QStringList({"Eins", "Zwei", "Drei"}));
    EXPECT_EQ(settings::DiscInfo.Album, "Eigenes");
    EXPECT_EQ(mb.Requests().size(), 1u);
}

TEST_F(QueryMusicBrainz, AnUnreadableTableOfContentsIsReportedAndNoWindowOpens) {
    UseImage();
    auto& form = Start();
    cd::CloseCDHandle(form.CDHandle());
    form.Action("aQueryMusicBrainz")->trigger();
    EXPECT_TRUE(dialogs_->modalDialogs.isEmpty());
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text, "Error while reading TOC information!");
}

} // namespace
