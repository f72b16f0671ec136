// MusicBrainz lookups: the reading of replies written from the web service's published
// format, the lookup and cover fetch against the loopback server, and the lookup window
// driven on a generated disc image (single, several and no releases, CD-Text, Stop).
#include "tags/MbLookup.h"
#include "tags/MbReleaseChooser.h"
#include "tags/QueryMb.h"
#include "tags/StopQuery.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/DiscToc.h"
#include "cd/MbDiscId.h"
#include "cd/MbServer.h"
#include "cd/akrip32.h"
#include "platform/ProgramFolder.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace {

using namespace std::chrono_literals;
using cdtest::Answer;
using tags::MbRelease;
using tags::TfrmQueryMb;
using testsupport::Child;

const std::string kDiscId = "abcdefghijklmnopqrstuvwxyz0-";

struct TrackJson {
    std::string title;
    std::string artist; // "" = credited like the release
    std::string recording;
};

std::string Bytes(const std::string& path) {
    const auto bytes = testsupport::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string Credit(const std::string& name) {
    return "[{\"name\":\"" + name + "\",\"joinphrase\":\"\",\"artist\":{\"name\":\"" + name +
           "\"}}]";
}

std::string Medium(int position, const std::string& discId, const std::vector<TrackJson>& tracks) {
    std::string json = "{\"position\":" + std::to_string(position) +
                       ",\"format\":\"CD\",\"track-count\":" + std::to_string(tracks.size()) +
                       ",\"discs\":[" + (discId.empty() ? "" : "{\"id\":\"" + discId + "\"}") +
                       "],\"tracks\":[";
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const TrackJson& t = tracks[i];
        json += (i ? "," : "") + std::string("{\"position\":") + std::to_string(i + 1) +
                ",\"title\":\"" + t.title + "\"" +
                (t.artist.empty() ? "" : ",\"artist-credit\":" + Credit(t.artist)) +
                ",\"recording\":{\"id\":\"" + t.recording + "\",\"title\":\"" + t.title + "\"}}";
    }
    return json + "]}";
}

std::string Release(const std::string& id, const std::string& title, const std::string& artist,
                    const std::string& date, const std::vector<std::string>& media) {
    std::string json =
        "{\"id\":\"" + id + "\",\"title\":\"" + title + "\",\"status\":\"Official\",\"date\":\"" +
        date +
        "\",\"country\":\"XE\",\"barcode\":\"0123456789012\",\"artist-credit\":" + Credit(artist) +
        ",\"label-info\":[{\"catalog-number\":\"CAT 1\",\"label\":{\"name\":"
        "\"Small Label\"}}],\"release-group\":{\"primary-type\":\"Album\"},"
        "\"media\":[";
    for (std::size_t i = 0; i < media.size(); ++i) {
        json += (i ? "," : "") + media[i];
    }
    return json + "]}";
}

std::string Releases(const std::vector<std::string>& releases) {
    std::string json = "{\"id\":\"" + kDiscId + "\",\"releases\":[";
    for (std::size_t i = 0; i < releases.size(); ++i) {
        json += (i ? "," : "") + releases[i];
    }
    return json + "]}";
}

const std::string kRelease1 = "11111111-1111-1111-1111-111111111111";
const std::string kRelease2 = "22222222-2222-2222-2222-222222222222";
const std::vector<TrackJson> kTracks = {
    {"Überall", "", "r1"}, {"Zweite Straße", "Gäst & The Band", "r2"}, {"東京", "", "r3"}};

const std::string kOneRelease = Releases(
    {Release(kRelease1, "Grüße", "The Band", "1999-05-01", {Medium(1, kDiscId, kTracks)})});

TEST(MbReplies, ReleasesStubsAndGarbageAreReadAsTheyAre) {
    const std::vector<TrackJson> other = {{"a", "", ""}, {"b", "", ""}};
    // Disc 2 of 2: the medium holding the disc id is the one read.
    const std::string twoDiscs = Releases({Release(
        kRelease2, "Box", "Many", "2001", {Medium(1, "", other), Medium(2, kDiscId, kTracks)})});
    const std::string fuzzy = Releases({Release(kRelease2, "Fuzzy", "Many", "bad date",
                                                {Medium(1, "", other), Medium(2, "", kTracks)})});
    const std::string stub = "{\"id\":\"" + kDiscId +
                             "\",\"title\":\"Stub\",\"artist\":\"Someone\",\"barcode\":\"\","
                             "\"track-count\":3,\"tracks\":[{\"title\":\"S1\",\"artist\":\"\"},"
                             "{\"title\":\"S2\",\"artist\":\"X\"},{\"title\":\"S3\"}]}";
    struct Case {
        const char* name;
        std::string json;
        bool reply;
        std::size_t releases;
        std::string title, disc, year;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {"one release",
         kOneRelease,
         true,
         1,
         "Grüße",
         "1",
         "1999",
         {"Überall", "Zweite Straße", "東京"}},
        {"disc 2 of 2",
         twoDiscs,
         true,
         1,
         "Box",
         "2/2",
         "2001",
         {"Überall", "Zweite Straße", "東京"}},
        {"fuzzy match by track count",
         fuzzy,
         true,
         1,
         "Fuzzy",
         "2/2",
         "",
         {"Überall", "Zweite Straße", "東京"}},
        {"two releases",
         Releases({Release(kRelease1, "A", "B", "", {}), Release(kRelease2, "C", "D", "", {})}),
         true,
         2,
         "A",
         "",
         "",
         {}},
        {"no release", Releases({}), true, 0, "", "", "", {}},
        {"stub", stub, true, 1, "Stub", "", "", {"S1", "S2", "S3"}},
        {"web page", "<html>busy</html>", false, 0, "", "", "", {}},
        {"cut reply", kOneRelease.substr(0, kOneRelease.size() / 2), false, 0, "", "", "", {}},
        {"array", "[1,2]", false, 0, "", "", "", {}},
        {"binary", std::string("\0\xff\x01{", 4), false, 0, "", "", "", {}},
        {"deep nesting",
         std::string(100000, '[') + std::string(100000, ']'),
         false,
         0,
         "",
         "",
         "",
         {}},
        {"wrong types",
         "{\"releases\":[{\"title\":5,\"media\":\"x\",\"artist-credit\":{}}, 7]}",
         true,
         1,
         "",
         "",
         "",
         {}},
    };
    for (const Case& c : cases) {
        const auto releases = tags::ParseMbDiscReply(c.json, kDiscId, 3);
        ASSERT_EQ(releases.has_value(), c.reply) << c.name;
        if (!releases) {
            continue;
        }
        ASSERT_EQ(releases->size(), c.releases) << c.name;
        if (c.releases == 0) {
            continue;
        }
        const MbRelease& r = releases->front();
        EXPECT_EQ(r.title, c.title) << c.name;
        EXPECT_EQ(r.DiscText(), c.disc) << c.name;
        EXPECT_EQ(r.Year(), c.year) << c.name;
        std::vector<std::string> titles;
        for (const auto& t : r.tracks) {
            titles.push_back(t.title);
        }
        EXPECT_EQ(titles, c.titles) << c.name;
    }
    const MbRelease one = tags::ParseMbDiscReply(kOneRelease, kDiscId, 3)->front();
    EXPECT_EQ(one.id, kRelease1);
    EXPECT_EQ(one.artist, "The Band");
    EXPECT_EQ(one.label, "Small Label");
    EXPECT_EQ(one.country, "XE");
    EXPECT_EQ(one.barcode, "0123456789012");
    EXPECT_EQ(one.source, MbRelease::Source::MusicBrainz);
    EXPECT_EQ(one.tracks[1].artist, "Gäst & The Band");
    EXPECT_EQ(one.tracks[0].artist, "") << "a track credited like the release";
    EXPECT_EQ(one.tracks[2].recordingId, "r3");
    EXPECT_EQ(tags::ParseMbDiscReply(stub, kDiscId, 3)->front().source, MbRelease::Source::CdStub);
}

TEST(MbReplies, CreditsJoinTheirNamesWithTheirPhrases) {
    const std::string json =
        "{\"releases\":[{\"title\":\"T\",\"artist-credit\":[{\"name\":\"A\",\"joinphrase\":\" "
        "feat. \"},{\"artist\":{\"name\":\"B\"},\"joinphrase\":\"\"}],\"media\":[]}]}";
    EXPECT_EQ(tags::ParseMbDiscReply(json, kDiscId, 1)->front().artist, "A feat. B");
}

TEST(MbLookups, TheLookupReportsWhatTheServerSays) {
    const std::string path = "/ws/2/discid/" + kDiscId;
    struct Case {
        const char* name;
        std::vector<cdtest::MbAnswer> answers;
        tags::MbLookupResult::Kind kind;
        std::size_t releases;
    };
    const std::vector<Case> cases = {
        {"one release", {Answer(200, kOneRelease)}, tags::MbLookupResult::Kind::Found, 1},
        {"unknown disc",
         {Answer(404, "{\"error\":\"Not Found\"}")},
         tags::MbLookupResult::Kind::NotFound,
         0},
        {"fuzzy search without a match",
         {Answer(200, Releases({}))},
         tags::MbLookupResult::Kind::NotFound,
         0},
        {"503 then success",
         {Answer(503, ""), Answer(200, kOneRelease)},
         tags::MbLookupResult::Kind::Found,
         1},
        {"garbage", {Answer(200, "<html>")}, tags::MbLookupResult::Kind::Failed, 0},
    };
    for (const Case& c : cases) {
        cdtest::MbServer server({{path, c.answers}});
        cd::MbServiceOptions options;
        options.interval = 10ms;
        options.retryPause = 10ms;
        const auto result =
            tags::LookupMbDisc(server.Url(), kDiscId, "1+3+2400+150+1050+1650", 3, options);
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_EQ(result.releases.size(), c.releases) << c.name;
        const auto requests = server.Requests();
        ASSERT_FALSE(requests.empty()) << c.name;
        EXPECT_NE(requests.front().target.find("&toc=1+3+2400+150+1050+1650"), std::string::npos)
            << "the fuzzy fallback goes with every lookup";
        EXPECT_NE(
            requests.front().target.find("inc=recordings+artist-credits+release-groups+labels"),
            std::string::npos);
    }
}

const std::string kJpeg =
    std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11) + std::string(600, 'j');
const std::string kPng =
    std::string("\x89PNG\r\n\x1A\n\x00\x00\x00\rIHDR", 16) + std::string(300, 'p');

TEST(MbLookups, FrontCoversAreSavedWhenTheyAreImages) {
    struct Case {
        const char* name;
        cdtest::MbAnswer answer;
        tags::CoverResult::Kind kind;
        std::string extension;
    };
    const std::vector<Case> cases = {
        {"jpeg", Answer(200, kJpeg), tags::CoverResult::Kind::Saved, ".jpg"},
        {"png", Answer(200, kPng), tags::CoverResult::Kind::Saved, ".png"},
        {"no cover", Answer(404, "Not found"), tags::CoverResult::Kind::NotFound, ""},
        {"a web page", Answer(200, "<html>cover</html>"), tags::CoverResult::Kind::Failed, ""},
    };
    for (const Case& c : cases) {
        testsupport::ScratchFolder folder;
        cdtest::MbServer server({{"/release/" + kRelease1 + "/front-500", {c.answer}}});
        cd::MbServiceOptions options;
        options.interval = 10ms;
        const auto cover =
            tags::FetchFrontCover(server.Url(), kRelease1, folder.File("covers"), options);
        EXPECT_EQ(cover.kind, c.kind) << c.name;
        const std::string expected = folder.File("covers/" + kRelease1 + c.extension);
        if (c.kind == tags::CoverResult::Kind::Saved) {
            EXPECT_EQ(cover.file, expected) << c.name;
            EXPECT_EQ(Bytes(expected), c.answer.body) << c.name;
        } else {
            EXPECT_TRUE(cover.file.empty()) << c.name;
            EXPECT_FALSE(std::filesystem::exists(folder.File("covers/" + kRelease1 + ".jpg")));
        }
    }
    // An id that is not one never becomes a file name or a request.
    cd::MbServiceOptions options;
    EXPECT_EQ(tags::FetchFrontCover("http://127.0.0.1:1", "../../etc/passwd", "/tmp", options).kind,
              tags::CoverResult::Kind::NotFound);
}

TEST(MbLookups, TheOrderNamesKnownSourcesOnceEach) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"cddb", {"cddb"}},
        {"musicbrainz, cddb ,cdtext", {"musicbrainz", "cddb", "cdtext"}},
        {"MusicBrainz,CDText,musicbrainz", {"musicbrainz", "cdtext"}},
        {"freedb,,cddb", {"cddb"}},
        {"", {}},
    };
    for (const auto& [order, sources] : cases) {
        EXPECT_EQ(TfrmQueryMb::SourcesOf(order), sources) << order;
    }
}

// The lookup window on a generated image against the loopback servers.
class MbWindow : public ::testing::Test {
protected:
    void SetUp() override {
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
        Image("");
        rows_ = std::make_unique<QTreeWidget>();
        rows_->setColumnCount(4);
        for (int t = 1; t <= 3; ++t) {
            auto* item = new QTreeWidgetItem(rows_.get());
            item->setText(0, QString::number(t));
            item->setText(1, QString("Track0%1").arg(t));
        }
        dialogs_->onModal = [](QWidget* w) { return qobject_cast<QDialog*>(w)->exec(); };
    }
    void TearDown() override { cd::CloseCDHandle(handle_); }

    void Image(const std::string& args) {
        cd::CloseCDHandle(handle_);
        cdtest::UseImages({cdtest::MakeImage(images_, "disc", {900, 600, 750}, args)});
        handle_ = cdtest::OpenFirstDrive();
        ASSERT_GT(handle_, 0);
        const auto disc = cd::ReadDiscOf(handle_);
        ASSERT_TRUE(disc);
        discId_ = cd::MbDiscIdOf(*disc);
    }
    std::string Path() const { return "/ws/2/discid/" + discId_; }
    void Servers(const cdtest::MbServer& mb) {
        settings::Settings.Metadata.MusicBrainzServer = mb.Url();
        settings::Settings.Metadata.CoverArtServer = mb.Url();
    }
    int Run(TfrmQueryMb::Mode mode = TfrmQueryMb::Mode::Menu,
            std::function<void(TfrmQueryMb*)> during = {}) {
        TfrmQueryMb form(nullptr, 1, 3, handle_, rows_.get(), mode);
        if (during) {
            QTimer::singleShot(0, &form, [&] { during(&form); });
        }
        return form.exec();
    }
    QStringList Titles() const {
        QStringList out;
        for (int i = 0; i < rows_->topLevelItemCount(); ++i) {
            out << rows_->topLevelItem(i)->text(1);
        }
        return out;
    }

    cdtest::ScratchFolder images_;
    const testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* const dialogs_ = scripted_.get();
    int handle_ = 0;
    std::string discId_;
    std::unique_ptr<QTreeWidget> rows_;
};

TEST_F(MbWindow, OneReleaseFillsTheDiscRecordTheTitlesAndTheCover) {
    const std::string reply = Releases(
        {Release(kRelease1, "Grüße", "The Band", "1999-05-01", {Medium(1, discId_, kTracks)})});
    cdtest::MbServer mb({{Path(), {Answer(200, reply)}},
                         {"/release/" + kRelease1 + "/front-500", {Answer(200, kJpeg)}}});
    Servers(mb);
    settings::Settings.Metadata.CddbEmail = "me@example.org";
    EXPECT_EQ(Run(), tags::ModalYes);
    const auto& d = settings::DiscInfo;
    EXPECT_EQ(d.Artist, "The Band");
    EXPECT_EQ(d.AlbumArtist, "The Band");
    EXPECT_EQ(d.Album, "Grüße");
    EXPECT_EQ(d.Year, "1999");
    EXPECT_EQ(d.DiscNumber, "1");
    EXPECT_EQ(d.MbReleaseId, kRelease1);
    EXPECT_EQ(d.Titles[2], "Zweite Straße");
    EXPECT_EQ(d.TrackArtists[1], "");
    EXPECT_EQ(d.TrackArtists[2], "Gäst & The Band");
    EXPECT_EQ(d.MbRecordingIds[3], "r3");
    EXPECT_EQ(Titles(), QStringList({"Überall", "Zweite Straße", "東京"}));
    EXPECT_EQ(d.CoverFile, platform::ProgramFolder() + "covers/" + kRelease1 + ".jpg");
    EXPECT_EQ(Bytes(d.CoverFile), kJpeg);
    const auto requests = mb.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].userAgent.find("( me@example.org )"), std::string::npos);

    // The record goes to cdinfo.dat (the main window sets the track count when it saves)
    // and comes back whole, UTF-8 included.
    settings::DiscInfo.TrackNumber = 3;
    settings::LoadSaveDiscInfo("12345", false);
    settings::DiscInfo = settings::TDiscInfo{};
    settings::LoadSaveDiscInfo("12345", true);
    EXPECT_EQ(settings::DiscInfo.Album, "Grüße");
    EXPECT_EQ(settings::DiscInfo.Titles[3], "東京");
    EXPECT_EQ(settings::DiscInfo.TrackArtists[2], "Gäst & The Band");
    EXPECT_EQ(settings::DiscInfo.MbReleaseId, kRelease1);
    EXPECT_EQ(settings::DiscInfo.CoverFile, d.CoverFile);
}

TEST_F(MbWindow, SeveralReleasesAskTheUserUnlessOneIsRemembered) {
    Image("--title 'Text Album' --performer 'Text Band' --track-titles T1 T2 T3");
    const std::string reply =
        Releases({Release(kRelease1, "First", "A", "1990", {Medium(1, discId_, kTracks)}),
                  Release(kRelease2, "Second", "B", "2005-02", {Medium(1, discId_, kTracks)})});
    cdtest::MbServer mb({{Path(), {Answer(200, reply)}}});
    Servers(mb);
    QStringList sources;
    int pick = 1;
    dialogs_->onModal = [&](QWidget* w) {
        auto* chooser = qobject_cast<tags::TfrmMbReleaseChooser*>(w);
        if (chooser == nullptr) {
            return qobject_cast<QDialog*>(w)->exec();
        }
        auto* list = Child<QTreeWidget>(chooser, "lvReleases");
        sources.clear();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            sources << list->topLevelItem(i)->text(0) + ":" + list->topLevelItem(i)->text(2);
        }
        if (pick < 0) {
            return static_cast<int>(QDialog::Rejected);
        }
        list->setCurrentItem(list->topLevelItem(pick));
        return static_cast<int>(QDialog::Accepted);
    };
    EXPECT_EQ(Run(), tags::ModalYes);
    EXPECT_EQ(sources,
              QStringList({"MusicBrainz:First", "MusicBrainz:Second", "CD-Text:Text Album"}));
    EXPECT_EQ(settings::DiscInfo.Album, "Second");
    EXPECT_EQ(settings::DiscInfo.Year, "2005");
    EXPECT_EQ(settings::DiscInfo.MbReleaseId, kRelease2);
    EXPECT_EQ(settings::DiscInfo.CoverFile, "") << "no cover: the release keeps its values";

    // Remembered: taken without asking.
    sources.clear();
    settings::DiscInfo.Album.clear();
    EXPECT_EQ(Run(), tags::ModalYes);
    EXPECT_TRUE(sources.isEmpty());
    EXPECT_EQ(settings::DiscInfo.Album, "Second");

    // The CD-Text row chosen: its titles, and the release id stays as it was.
    settings::DiscInfo = settings::TDiscInfo{};
    pick = 2;
    EXPECT_EQ(Run(), tags::ModalYes);
    EXPECT_EQ(settings::DiscInfo.Album, "Text Album");
    EXPECT_EQ(settings::DiscInfo.Artist, "Text Band");
    EXPECT_EQ(settings::DiscInfo.MbReleaseId, "");
    EXPECT_EQ(Titles(), QStringList({"T1", "T2", "T3"}));

    // Cancel in the chooser changes nothing.
    settings::DiscInfo = settings::TDiscInfo{};
    pick = -1;
    EXPECT_EQ(Run(), tags::ModalCancel);
    EXPECT_EQ(settings::DiscInfo.Album, "");
}

TEST_F(MbWindow, WithoutAReleaseTheCdTextIsUsedOrTheWindowSaysWhy) {
    struct Case {
        const char* name;
        std::string image;
        bool reachable;
        cdtest::MbAnswer answer;
        int result;
        std::string album;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"cd-text", "--title 'Nur Text' --track-titles Ä B C", true, Answer(404, "{}"),
         tags::ModalYes, "Nur Text", ""},
        {"nothing", "", true, Answer(404, "{}"), tags::ModalCancel, "", "No release found"},
        {"garbage", "", true, Answer(200, "<html>"), tags::ModalCancel, "", "could not be asked"},
        {"no server", "", false, Answer(404, "{}"), tags::ModalCancel, "", "could not be reached"},
    };
    for (const Case& c : cases) {
        Image(c.image);
        settings::DiscInfo = settings::TDiscInfo{};
        cdtest::MbServer mb({{Path(), {c.answer}}});
        Servers(mb);
        if (!c.reachable) {
            settings::Settings.Metadata.MusicBrainzServer =
                "http://127.0.0.1:" + std::to_string(cdtest::UnusedPort());
        }
        QString said;
        const int result = Run(TfrmQueryMb::Mode::Menu, [&](TfrmQueryMb* form) {
            testsupport::PumpUntil([&] { return form->NothingFoundShown() || !form->isVisible(); },
                                   10s);
            said = form->NothingFoundText();
            if (form->isVisible()) {
                QTest::mouseClick(Child<QPushButton>(form, "bStop"), Qt::LeftButton);
            }
        });
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(settings::DiscInfo.Album, c.album) << c.name;
        EXPECT_TRUE(said.contains(QString::fromStdString(c.says)))
            << c.name << ": " << said.toStdString();
    }
}

TEST_F(MbWindow, StopEndsTheLookupAtOnceAndDropsWhatComesLater) {
    cdtest::MbAnswer slow = Answer(200, kOneRelease);
    slow.delay = 3;
    cdtest::MbServer mb({{Path(), {slow}}});
    Servers(mb);
    std::chrono::steady_clock::duration took{};
    const int result = Run(TfrmQueryMb::Mode::Menu, [&](TfrmQueryMb* form) {
        testsupport::PumpUntil([&] { return !mb.Requests().empty(); }, 10s);
        const auto start = std::chrono::steady_clock::now();
        QTest::mouseClick(Child<QPushButton>(form, "bStop"), Qt::LeftButton);
        took = std::chrono::steady_clock::now() - start;
    });
    EXPECT_EQ(result, tags::ModalCancel);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(settings::DiscInfo.Album, "");
    EXPECT_EQ(Titles(), QStringList({"Track01", "Track02", "Track03"}));
}

TEST_F(MbWindow, TheAutomaticLookupEndsQuietlyWhenNothingIsFound) {
    Image("--title 'Nur Text'");
    cdtest::MbServer mb({{Path(), {Answer(404, "{}")}}});
    Servers(mb);
    EXPECT_EQ(Run(TfrmQueryMb::Mode::Automatic), tags::ModalCancel);
    EXPECT_EQ(settings::DiscInfo.Album, "") << "the CD-Text is a source of its own there";
    settings::Settings.Metadata.MusicBrainz = false;
    EXPECT_EQ(Run(TfrmQueryMb::Mode::Automatic), tags::ModalCancel);
    EXPECT_EQ(mb.Requests().size(), 1u) << "switched off, MusicBrainz is not asked";
}

} // namespace
