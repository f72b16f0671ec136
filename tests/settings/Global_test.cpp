#include "settings/Global.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "platform/FileLock.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace settings;

namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings{};
        DiscInfo = TDiscInfo{};
    }

    std::string Path(const std::string& name) const { return home_.File(name); }
    void Write(const std::string& name, const std::string& text) const {
        home_.WriteText(name, text);
    }
    std::string Read(const std::string& name) const { return testsupport::ReadText(Path(name)); }

    testsupport::ScratchFolder home_;
    const testsupport::ScopedEnv homeEnv_{"VELLORINE_HOME", home_.Path().c_str()};
};

TEST_F(SettingsStore, WithoutAFileEverySettingHasItsDefault) {
    Settings.Mp3Options.BitRate = 7;
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.CommonOptions.NormalizePercent, 95);
    EXPECT_EQ(Settings.Mp3Options.BitRate, 128);
    EXPECT_EQ(Settings.Mp3Options.MaxBitRate, 320);
    EXPECT_EQ(Settings.Mp3Options.VBRQuality, 4);
    EXPECT_EQ(Settings.Mp3Options.StereoMode, 1);
    EXPECT_TRUE(Settings.OggOptions.IsUseCompress);
    EXPECT_EQ(Settings.OggOptions.CompressPosition, 30);
    EXPECT_EQ(Settings.WMAOptions.BitRate, 8);
    EXPECT_EQ(Settings.CDOptions.Index, -1);
    EXPECT_EQ(Settings.QueryCDDB.Script, "/~cddb/cddb.cgi");
    EXPECT_EQ(Settings.QueryCDDB.Port, "80");
    EXPECT_FALSE(Settings.ID3.Use);
    EXPECT_FALSE(Settings.SecureRip.Enabled); // a new mode stays off until asked for
    EXPECT_EQ(Settings.SecureRip.ReadOffset, 0);
    EXPECT_FALSE(Settings.SecureRip.TestAndCopy);
    EXPECT_EQ(Settings.SecureRip.SectorRetries, 20);
    EXPECT_FALSE(Settings.SecureRip.FastFirst);
}

TEST_F(SettingsStore, SavingWritesEverySectionWithItsKeysInOrderNewestSectionLast) {
    LoadSaveOptions(true);
    LoadSaveOptions(false);
    const std::string text = Read("options.ini");
    std::vector<std::string> sections;
    std::vector<std::string> keys;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.front() == '[') {
            sections.push_back(line);
        } else {
            keys.push_back(line.substr(0, line.find('=')));
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{
                            "[CommonOptions]", "[Mp3Options]", "[OggOptions]", "[WMAOptions]",
                            "[CDOptions]", "[RecordOptions]", "[QueryCDDB]", "[ID3]", "[SecureRip]",
                            "[Performance]", "[Tags]", "[Metadata]", "[Naming]", "[FLACOptions]",
                            "[OpusOptions]", "[ReplayGain]", "[MainWindow]"}));
    ASSERT_EQ(keys.size(), 65u);
    EXPECT_EQ(keys[0], "OutputFolder");
    EXPECT_EQ(keys[13], "StereoMode");
    EXPECT_EQ(keys[16], "MaxBitRate");
    EXPECT_EQ(keys[17], "NomalBitRate");
    EXPECT_EQ(keys[28], "Use");
    EXPECT_EQ(keys[29], "Enabled");
    EXPECT_EQ(keys[33], "AccurateRipServer");
    EXPECT_EQ(keys[34], "CTDB");
    EXPECT_EQ(keys[35], "CTDBServer");
    EXPECT_EQ(keys[36], "SectorRetries");
    EXPECT_EQ(keys[37], "FastFirst");
    EXPECT_EQ(keys[38], "Encoders");
    EXPECT_EQ(keys[39], "ID3v2");
    EXPECT_EQ(keys[40], "VorbisComments");
    EXPECT_EQ(keys[41], "SaveCover");
    EXPECT_EQ(keys[42], "Order");
    EXPECT_EQ(keys[46], "CddbEmail");
    EXPECT_EQ(keys[47], "Template");
    EXPECT_EQ(keys[49], "CueSheet");
    EXPECT_EQ(keys[50], "SingleFile");
    EXPECT_EQ(keys[51], "HiddenTrack");
    EXPECT_EQ(keys[52], "Level");
    EXPECT_EQ(keys[54], "BitRate");
    EXPECT_EQ(keys[55], "Enabled");
    EXPECT_EQ(keys[56], "Left");
    EXPECT_EQ(keys[64], "Column3Width");
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

// Without a stored OutputFolder music goes to the desktop's music folder when there is
// one (Extract creates one level only); a stored one is kept, and nothing is created
// before an extraction asks for it.
TEST_F(SettingsStore, TheDefaultOutputFolderIsInTheUsersMusicFolder) {
    const testsupport::ScratchFolder user;
    const testsupport::ScopedEnv home("HOME", user.Path().c_str());
    const testsupport::ScopedEnv config("XDG_CONFIG_HOME", user.File("config").c_str());
    struct Case {
        const char* userDirs; // config/user-dirs.dirs, nullptr for none
        const char* music;    // the music folder made under HOME, nullptr for none
        const char* options;  // options.ini
        std::string folder;
    };
    const Case cases[] = {
        {nullptr, "Music", "", user.Path() + "/Music/Vellorine"},
        {"XDG_MUSIC_DIR=\"$HOME/Tunes\"\n", "Tunes", "", user.Path() + "/Tunes/Vellorine"},
        {nullptr, nullptr, "", platform::ProgramFolder() + "Output"},
        {"XDG_MUSIC_DIR=\"$HOME/Tunes\"\n", "Tunes", "[CommonOptions]\nOutputFolder=/srv/rips\n",
         "/srv/rips"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        fs::remove_all(user.File("config"));
        fs::remove_all(user.File("Music"));
        fs::remove_all(user.File("Tunes"));
        if (c.music != nullptr) {
            fs::create_directory(user.File(c.music));
        }
        if (c.userDirs != nullptr) {
            fs::create_directories(user.File("config"));
            user.WriteText("config/user-dirs.dirs", c.userDirs);
        }
        Write("options.ini", c.options);
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.CommonOptions.OutputFolder, c.folder);
        EXPECT_FALSE(fs::exists(Settings.CommonOptions.OutputFolder));
    }
}

TEST_F(SettingsStore, TheMainWindowSectionIsAppendedAfterTheOthersAndKeepsItsValues) {
    Write("options.ini", "[QueryCDDB]\nServer=cddb.example\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.MainWindow.Width, 0); // never stored
    Settings.MainWindow = {-20, 30, 700, 480, true, {50, 300, 90, 80}};
    LoadSaveOptions(false);
    const std::string text = Read("options.ini");
    const std::size_t section = text.find("[MainWindow]\nLeft=-20\nTop=30\nWidth=700\n"
                                          "Height=480\nMaximized=1\nColumn0Width=50\n");
    EXPECT_NE(section, std::string::npos) << text;
    EXPECT_EQ(text.rfind('['), section) << text; // the last section
    Settings = TSettings{};
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.MainWindow.Left, -20);
    EXPECT_EQ(Settings.MainWindow.Height, 480);
    EXPECT_TRUE(Settings.MainWindow.Maximized);
    EXPECT_EQ(Settings.MainWindow.ColumnWidths, (std::array<int, 4>{50, 300, 90, 80}));
    EXPECT_EQ(Settings.QueryCDDB.Server, "cddb.example");
}

TEST_F(SettingsStore, TheMetadataSectionKeepsTodaysLookupUntilToldOtherwise) {
    struct Case {
        const char* options;
        std::string order, server, email;
        bool musicBrainz;
    };
    const Case cases[] = {
        {"", "cddb", "https://musicbrainz.org", "", true},
        {"[Metadata]\nOrder=musicbrainz,cdtext\nMusicBrainz=0\nCddbEmail=me@example.org\n"
         "MusicBrainzServer=http://127.0.0.1:5000\n",
         "musicbrainz,cdtext", "http://127.0.0.1:5000", "me@example.org", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Write("options.ini", c.options);
        Settings = TSettings{};
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.Metadata.Order, c.order);
        EXPECT_EQ(Settings.Metadata.MusicBrainzServer, c.server);
        EXPECT_EQ(Settings.Metadata.CoverArtServer, "https://coverartarchive.org");
        EXPECT_EQ(Settings.Metadata.CddbEmail, c.email);
        EXPECT_EQ(Settings.Metadata.MusicBrainz, c.musicBrainz);
        Settings.Metadata.CddbEmail = "new@example.org";
        LoadSaveOptions(false);
        Settings.Metadata.CddbEmail.clear();
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.Metadata.CddbEmail, "new@example.org");
    }
}

TEST_F(SettingsStore, TheCtdbCheckFollowsAccurateRipUntilItIsStoredItself) {
    struct Case {
        const char* options;
        bool ctdb;
        std::string server;
    };
    const Case cases[] = {
        {"", true, "http://db.cuetools.net"},
        {"[SecureRip]\nAccurateRip=0\n", false, "http://db.cuetools.net"},
        {"[SecureRip]\nAccurateRip=1\n", true, "http://db.cuetools.net"},
        {"[SecureRip]\nAccurateRip=0\nCTDB=1\n", true, "http://db.cuetools.net"},
        {"[SecureRip]\nAccurateRip=1\nCTDB=0\nCTDBServer=http://127.0.0.1:81\n", false,
         "http://127.0.0.1:81"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Write("options.ini", c.options);
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.SecureRip.CTDB, c.ctdb);
        EXPECT_EQ(Settings.SecureRip.CTDBServer, c.server);
        // Stored once, the key keeps its value whatever AccurateRip becomes.
        Settings.SecureRip.AccurateRip = !c.ctdb;
        LoadSaveOptions(false);
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.SecureRip.CTDB, c.ctdb);
        EXPECT_EQ(Settings.SecureRip.CTDBServer, c.server);
    }
}

TEST_F(SettingsStore, LoadClampsCompressionAndFallsBackOnBadNumbers) {
    Write("options.ini", "[oggoptions]\r\nCompressPosition=5\r\n[Mp3Options]\r\n"
                         "VBRQuality=abc\r\nbitrate = \"0x80\"\r\nMaxBitRate=0x\r\n"
                         "[CommonOptions]\r\nIsKeepWav=7\r\nRipTime=-12\r\n"
                         "[SecureRip]\r\nReadOffset=-99999\r\nSectorRetries=500\r\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.OggOptions.CompressPosition, 30);
    EXPECT_EQ(Settings.Mp3Options.VBRQuality, 4);
    EXPECT_EQ(Settings.Mp3Options.BitRate, 128);
    EXPECT_EQ(Settings.Mp3Options.MaxBitRate, 320);
    EXPECT_TRUE(Settings.CommonOptions.IsKeepWav);
    EXPECT_EQ(Settings.CommonOptions.RipTime, -12);
    EXPECT_EQ(Settings.SecureRip.ReadOffset, -44100);
    EXPECT_EQ(Settings.SecureRip.SectorRetries, 100);

    Write("options.ini", "[OggOptions]\nCompressPosition=250\n[SecureRip]\nSectorRetries=-3\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.OggOptions.CompressPosition, 100);
    EXPECT_EQ(Settings.SecureRip.SectorRetries, 0);
}

TEST_F(SettingsStore, ValuesSurviveARoundTripAndTrueIsWrittenAsOne) {
    Write("options.ini", "[CommonOptions]\nIsKeepWav=7\n");
    LoadSaveOptions(true);
    Settings.CommonOptions.OutputFolder = "/music/out put";
    Settings.Mp3Options.BitRate = 192;
    Settings.QueryCDDB.ProxyAddress = "proxy.example";
    Settings.ID3.Use = true;
    LoadSaveOptions(false);
    EXPECT_NE(Read("options.ini").find("IsKeepWav=1\n"), std::string::npos);
    Settings = TSettings{};
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.CommonOptions.OutputFolder, "/music/out put");
    EXPECT_EQ(Settings.Mp3Options.BitRate, 192);
    EXPECT_EQ(Settings.QueryCDDB.ProxyAddress, "proxy.example");
    EXPECT_TRUE(Settings.ID3.Use);
    EXPECT_TRUE(Settings.CommonOptions.IsKeepWav);
}

TEST_F(SettingsStore, AReadOnlyOptionsFileIsReportedAndLeftIntact) {
    Write("options.ini", "[Mp3Options]\nBitRate=64\n");
    chmod(Path("options.ini").c_str(), 0444);
    LoadSaveOptions(true);
    Settings.Mp3Options.BitRate = 256;
    try {
        LoadSaveOptions(false);
        FAIL() << "a refused write must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path("options.ini"));
    }
    EXPECT_EQ(Read("options.ini"), "[Mp3Options]\nBitRate=64\n");
}

TEST_F(SettingsStore, AByteOrderMarkBeforeTheFirstSectionIsSkipped) {
    Write("options.ini", "\xEF\xBB\xBF[CommonOptions]\r\nRipTime=7\r\n");
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.CommonOptions.RipTime, 7);
    LoadSaveOptions(false);
    const std::string saved = Read("options.ini");
    EXPECT_EQ(saved.find("[CommonOptions]\n"), 0u);
    EXPECT_EQ(saved.find("[CommonOptions]", 1), std::string::npos) << "no second section";
}

TEST_F(SettingsStore, NumbersOutsideTheThirtyTwoBitRangeGiveTheKeysDefault) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"999999999999999999", 0},
        {"2147483648", 0},
        {"-2147483649", 0},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0xFFFFFFFF", -1},
    };
    for (const auto& c : cases) {
        Write("options.ini", std::string("[CommonOptions]\nRipTime=") + c.text + "\n");
        LoadSaveOptions(true);
        EXPECT_EQ(Settings.CommonOptions.RipTime, c.expected) << c.text;
    }
}

TEST_F(SettingsStore, ADiscSectionWithABadTrackNumberKeepsItsStoredTitles) {
    const struct {
        const char* count;
        const char* third; // title 3, which the section does not hold
    } cases[] = {{"0", "left from before"},
                 {"-4", "left from before"},
                 {"99999999999", "Track03"},
                 {"many", "Track03"}};
    for (const auto& c : cases) {
        Write("cdinfo.dat", std::string("[5]\nTrackNumber=") + c.count + "\n1=Intro\n2=Middle\n");
        DiscInfo.Titles[3] = "left from before";
        LoadSaveDiscInfo("5", true);
        EXPECT_EQ(DiscInfo.Titles[1], "Intro") << c.count;
        EXPECT_EQ(DiscInfo.Titles[2], "Middle") << c.count;
        EXPECT_EQ(DiscInfo.Titles[3], c.third) << c.count;
    }
}

TEST_F(SettingsStore, AnUnknownDiscGetsEmptyFieldsAndAHundredDefaultTitles) {
    LoadSaveDiscInfo("12345", true);
    EXPECT_EQ(DiscInfo.Artist, "");
    EXPECT_EQ(DiscInfo.Genre, -1);
    EXPECT_EQ(DiscInfo.TrackNumber, 100);
    EXPECT_EQ(DiscInfo.Titles[1], "Track01");
    EXPECT_EQ(DiscInfo.Titles[100], "Track100");
}

TEST_F(SettingsStore, AShortSectionKeepsLaterTitlesAndFillsEmptyOnes) {
    Write("cdinfo.dat", "[-42]\nArtist=Someone\nGenre=12\nTrackNumber=3\n1=Intro\n2=\n3=End\n");
    DiscInfo.Titles[4] = "left from before";
    LoadSaveDiscInfo("-42", true);
    EXPECT_EQ(DiscInfo.Artist, "Someone");
    EXPECT_EQ(DiscInfo.Genre, 12);
    EXPECT_EQ(DiscInfo.TrackNumber, 3);
    EXPECT_EQ(DiscInfo.Titles[1], "Intro");
    EXPECT_EQ(DiscInfo.Titles[2], "Track02");
    EXPECT_EQ(DiscInfo.Titles[3], "End");
    EXPECT_EQ(DiscInfo.Titles[4], "left from before");
}

TEST_F(SettingsStore, AnEmptyDiscKeyNeitherLoadsNorSaves) {
    DiscInfo.Artist = "kept";
    LoadSaveDiscInfo("", true);
    LoadSaveDiscInfo("", false);
    EXPECT_EQ(DiscInfo.Artist, "kept");
    EXPECT_FALSE(fs::exists(Path("cdinfo.dat")));
}

TEST_F(SettingsStore, SavingADiscWritesItsFieldsThenItsTitlesAndKeepsOtherDiscs) {
    Write("cdinfo.dat", "[777]\nArtist=Other\n");
    DiscInfo.Artist = "A";
    DiscInfo.Year = "1999";
    DiscInfo.Genre = 3;
    DiscInfo.TrackNumber = 2;
    DiscInfo.Titles[1] = "One";
    DiscInfo.Titles[2] = "Two";
    LoadSaveDiscInfo("-5", false);
    EXPECT_EQ(Read("cdinfo.dat"), "[777]\nArtist=Other\n[-5]\nArtist=A\nAlbum=\nYear=1999\n"
                                  "Genre=3\nComment=\nTrackNumber=2\n1=One\n2=Two\n");
    // A count beyond the title array is never followed past its end.
    DiscInfo.TrackNumber = 250;
    EXPECT_NO_THROW(LoadSaveDiscInfo("-5", false));
    EXPECT_NO_THROW(LoadSaveDiscInfo("-5", true));
    EXPECT_EQ(DiscInfo.TrackNumber, 250);
}

TEST_F(SettingsStore, LaterDiscKeysFollowTheTitlesOnlyOnceTheyHaveAValue) {
    Write("cdinfo.dat", "[9]\nArtist=A\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n"
                        "1=One\n2=Two\n");
    const std::string untouched = Read("cdinfo.dat");
    LoadSaveDiscInfo("9", true);
    LoadSaveDiscInfo("9", false);
    EXPECT_EQ(Read("cdinfo.dat"), untouched);

    DiscInfo.AlbumArtist = "Various";
    DiscInfo.DiscNumber = "1/2";
    DiscInfo.TrackArtists[2] = "Guest";
    DiscInfo.MbRecordingIds[1] = "rec-1";
    LoadSaveDiscInfo("9", false);
    EXPECT_EQ(Read("cdinfo.dat"), untouched + "AlbumArtist=Various\nDiscNumber=1/2\n"
                                              "MBRecordingId1=rec-1\nArtist2=Guest\n");
    DiscInfo = TDiscInfo{};
    LoadSaveDiscInfo("9", true);
    EXPECT_EQ(DiscInfo.AlbumArtist, "Various");
    EXPECT_EQ(DiscInfo.TrackArtists[2], "Guest");
    EXPECT_EQ(DiscInfo.MbRecordingIds[1], "rec-1");
    EXPECT_EQ(DiscInfo.MbReleaseId, "");

    DiscInfo.AlbumArtist.clear(); // a cleared value is cleared in the file
    LoadSaveDiscInfo("9", false);
    LoadSaveDiscInfo("9", true);
    EXPECT_EQ(DiscInfo.AlbumArtist, "");
    EXPECT_EQ(DiscInfo.DiscNumber, "1/2");
}

TEST(Helpers, TwoDigitsPadsOnlySingleDigits) {
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(9), "09");
    EXPECT_EQ(TwoDigits(10), "10");
    EXPECT_EQ(TwoDigits(100), "100");
}

TEST(Helpers, IncludeBackslashAppendsOneSeparator) {
    EXPECT_EQ(IncludeBackslash(""), "");
    EXPECT_EQ(IncludeBackslash("/music"), "/music/");
    EXPECT_EQ(IncludeBackslash("/music/"), "/music/");
}

TEST(Helpers, GenreIndexOfIsCaseSensitive) {
    EXPECT_EQ(GenreIndexOf("A Cappella"), 0);
    EXPECT_EQ(GenreIndexOf("a cappella"), -1);
    EXPECT_EQ(GenreIndexOf("Vocal"), 147);
    EXPECT_STREQ(WmaPresetCodes[8], "64_44_2");
    EXPECT_STREQ(WmaPresetCodes[32], "5_8_1");
}

TEST(Helpers, FileInUseFollowsExistenceModeAndOtherOpeners) {
    const testsupport::ScratchFolder folder;
    const std::string path = folder.File("inuse.bin");
    EXPECT_FALSE(IsFileInUse(path));
    EXPECT_EQ(FileSizeOf(path), -1);
    std::ofstream(path) << "12345";
    EXPECT_FALSE(IsFileInUse(path));
    EXPECT_EQ(FileSizeOf(path), 5);
    chmod(path.c_str(), 0444);
    EXPECT_TRUE(IsFileInUse(path));
}

TEST(Helpers, WaitMsWaitsAtLeastTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    WaitMs(0);
    WaitMs(15);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

} // namespace

namespace {

// Another instance on the same settings folder saves between this one's load and save:
// each keeps what the other changed; a key both changed is the last saver's.
TEST_F(SettingsStore, SavingADiscMergesWithWhatAnotherInstanceSavedMeanwhile) {
    const std::string start = "[9]\nArtist=A\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n"
                              "1=One\n2=Two\n";
    const struct {
        const char* name;
        std::string before; // cdinfo.dat when this instance loads
        std::string theirs; // cdinfo.dat as the other instance left it
        const char* title1; // this instance's titles at close
        const char* title2;
        std::string after;
    } cases[] = {
        {"each changed another title", start, "[9]\nArtist=A\nTrackNumber=2\n1=Theirs\n2=Two\n",
         "One", "Mine",
         "[9]\nArtist=A\nTrackNumber=2\n1=Theirs\n2=Mine\nAlbum=\nYear=\nGenre=-1\nComment=\n"},
        {"this one changed nothing", start,
         "[9]\nArtist=B\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Theirs\n2=Two\n",
         "One", "Two",
         "[9]\nArtist=B\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Theirs\n2=Two\n"},
        {"both changed one title", start,
         "[9]\nArtist=A\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Theirs\n2=Two\n"
         "[other]\nx=1\n",
         "Mine", "Two",
         "[9]\nArtist=A\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Mine\n2=Two\n"
         "[other]\nx=1\n"},
        {"a new disc named in both", "",
         "[9]\nArtist=\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Theirs\n2=Track02\n",
         "Track01", "Mine",
         "[9]\nArtist=\nAlbum=\nYear=\nGenre=-1\nComment=\nTrackNumber=2\n1=Theirs\n2=Mine\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("cdinfo.dat", c.before);
        DiscInfo = TDiscInfo{};
        LoadSaveDiscInfo("9", true);
        Write("cdinfo.dat", c.theirs);
        DiscInfo.TrackNumber = 2; // the close sets the count of the list's rows
        DiscInfo.Titles[1] = c.title1;
        DiscInfo.Titles[2] = c.title2;
        LoadSaveDiscInfo("9", false);
        EXPECT_EQ(Read("cdinfo.dat"), c.after);
    }
}

TEST_F(SettingsStore, SavingOptionsMergesWithWhatAnotherInstanceSavedMeanwhile) {
    LoadSaveOptions(true);
    LoadSaveOptions(false); // a whole file, as the first close leaves it
    LoadSaveOptions(true);
    // The other instance changed the bit rate and the server; this one the ID3 flag and
    // the server.
    std::string theirs = Read("options.ini");
    const auto replace = [&theirs](const std::string& from, const std::string& to) {
        const auto at = theirs.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        theirs.replace(at, from.size(), to);
    };
    replace("BitRate=128\n", "BitRate=256\n");
    replace("Server=gnudb.gnudb.org\n", "Server=theirs.example\n");
    Write("options.ini", theirs);
    Settings.ID3.Use = true;
    Settings.QueryCDDB.Server = "mine.example";
    LoadSaveOptions(false);

    Settings = TSettings{};
    LoadSaveOptions(true);
    EXPECT_EQ(Settings.Mp3Options.BitRate, 256);
    EXPECT_TRUE(Settings.ID3.Use);
    EXPECT_EQ(Settings.QueryCDDB.Server, "mine.example");
    EXPECT_EQ(Settings.Mp3Options.MaxBitRate, 320);
}

TEST_F(SettingsStore, SavingWaitsForTheOtherInstancesSaveToEnd) {
    LoadSaveOptions(true);
    Settings.Mp3Options.BitRate = 64;
    std::atomic<bool> saved{false};
    std::thread saver;
    {
        const platform::FileLock other(platform::ProgramFolder() + ".settings.lock");
        ASSERT_TRUE(other.Held());
        saver = std::thread([&saved] {
            LoadSaveOptions(false);
            saved = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(saved.load()) << "saved while the other instance held the lock";
        EXPECT_FALSE(fs::exists(Path("options.ini")));
    }
    saver.join();
    EXPECT_TRUE(saved.load());
    EXPECT_NE(Read("options.ini").find("BitRate=64\n"), std::string::npos);
}

} // namespace
