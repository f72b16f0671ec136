#include "settings/Global.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "cd/akrip32.h"
#include "platform/FileLock.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/UserFolders.h"
#include "settings/DiscHistory.h"

namespace settings {

TSettings Settings;
TDiscInfo DiscInfo;

namespace {

// Every key of one file as this process last read or wrote it: the text the record gave
// it then, and the file's own text then. Saving leaves a key as the file has it when this
// process did not change it and another process did (the file's text moved on), so that
// two instances on one settings folder keep each other's changes.
struct Synced {
    struct Entry {
        std::string text;               // the record's value, as it would be written
        std::optional<std::string> raw; // the file's value, if it had the key
    };
    std::string path;
    std::map<std::pair<std::string, std::string>, Entry> values; // (section, key)
};
std::optional<Synced> SyncedOptions;
std::optional<Synced> SyncedDisc;

// Reads (load) or writes one key, so that the loading and saving halves share one
// table of keys and can never disagree about names, order or defaults. A third mode
// notes every key as synced (the record's text and the file's).
class Binder {
public:
    enum class Mode { Load, Save, Note };
    Binder(platform::IniFile* ini, Mode mode, Synced* synced)
        : ini_(ini), mode_(mode), synced_(synced) {}
    bool Loading() const { return mode_ == Mode::Load; }
    void Text(const std::string& section, const std::string& key, std::string& field,
              const std::string& def) {
        if (mode_ == Mode::Load) {
            field = ini_->ReadString(section, key, def);
        } else {
            Put(section, key, field);
        }
    }
    void Int(const std::string& section, const std::string& key, int& field, int def) {
        if (mode_ == Mode::Load) {
            // A number the 32-bit field cannot hold counts as not converting.
            const long long value = ini_->ReadInteger(section, key, def);
            const bool fits = value >= std::numeric_limits<std::int32_t>::min() &&
                              value <= std::numeric_limits<std::int32_t>::max();
            field = fits ? static_cast<int>(value) : def;
        } else {
            Put(section, key, std::to_string(field));
        }
    }
    void Format(const std::string& section, const std::string& key, TOutputFormat& field,
                TOutputFormat def) {
        int stored = StoredFormat(field);
        Int(section, key, stored, StoredFormat(def));
        field = FormatFromStored(stored);
    }
    void Bool(const std::string& section, const std::string& key, bool& field, bool def) {
        if (mode_ == Mode::Load) {
            field = ini_->ReadBool(section, key, def);
        } else {
            Put(section, key, field ? "1" : "0");
        }
    }

private:
    void Put(const std::string& section, const std::string& key, const std::string& text) {
        if (mode_ == Mode::Note) {
            synced_->values[{section, key}] = {text, ini_->Find(section, key)};
            return;
        }
        if (synced_ != nullptr) {
            const auto was = synced_->values.find({section, key});
            if (was != synced_->values.end()) {
                const auto now = ini_->Find(section, key);
                const bool ours = text != was->second.text;
                const bool theirs = now != was->second.raw;
                if (now && theirs && !ours) {
                    return; // another instance's value
                }
            }
        }
        ini_->WriteString(section, key, text);
    }

    platform::IniFile* ini_;
    Mode mode_;
    Synced* synced_;
};

// What was synced with this file, or nothing when the record was last synced with another
// file (or never): then every key is written.
Synced* SyncedWith(std::optional<Synced>& synced, const std::string& path) {
    return synced && synced->path == path ? &*synced : nullptr;
}

// The lock two instances on one settings folder take around reading, merging and writing.
std::string SettingsLockPath() {
    return platform::ProgramFolder() + ".settings.lock";
}

// Music belongs where the desktop keeps music; the folder is made only when an
// extraction first offers to, and then one level only, so the music folder itself must
// be there (a home without one keeps its rips beside the program's settings).
std::string DefaultOutputFolder() {
    const std::string music = platform::MusicFolder();
    struct stat st {};
    const bool present = !music.empty() && ::stat(music.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return present ? music + "/Vellorine" : platform::ProgramFolder() + "Output";
}

void BindOptions(Binder& b, TSettings& s) {
    const TSettings d; // compiled-in defaults
    auto& c = s.CommonOptions;
    b.Text("CommonOptions", "OutputFolder", c.OutputFolder, DefaultOutputFolder());
    b.Format("CommonOptions", "OutputFormat", c.OutputFormat, d.CommonOptions.OutputFormat);
    b.Bool("CommonOptions", "IsKeepWav", c.IsKeepWav, d.CommonOptions.IsKeepWav);
    b.Bool("CommonOptions", "IsNormalize", c.IsNormalize, d.CommonOptions.IsNormalize);
    b.Int("CommonOptions", "NormalizePercent", c.NormalizePercent,
          d.CommonOptions.NormalizePercent);
    b.Bool("CommonOptions", "EnableRipTime", c.EnableRipTime, d.CommonOptions.EnableRipTime);
    b.Int("CommonOptions", "RipTime", c.RipTime, d.CommonOptions.RipTime);
    auto& m = s.Mp3Options;
    b.Bool("Mp3Options", "IsSelectVBR", m.IsSelectVBR, d.Mp3Options.IsSelectVBR);
    b.Bool("Mp3Options", "IsVBRHead", m.IsVBRHead, d.Mp3Options.IsVBRHead);
    b.Int("Mp3Options", "BitRate", m.BitRate, d.Mp3Options.BitRate);
    b.Int("Mp3Options", "MaxBitRate", m.MaxBitRate, d.Mp3Options.MaxBitRate);
    b.Int("Mp3Options", "MpegQuality", m.MpegQuality, d.Mp3Options.MpegQuality);
    b.Int("Mp3Options", "VBRQuality", m.VBRQuality, d.Mp3Options.VBRQuality);
    b.Int("Mp3Options", "StereoMode", m.StereoMode, d.Mp3Options.StereoMode);
    auto& o = s.OggOptions;
    b.Bool("OggOptions", "IsUseCompress", o.IsUseCompress, d.OggOptions.IsUseCompress);
    b.Int("OggOptions", "CompressPosition", o.CompressPosition, d.OggOptions.CompressPosition);
    b.Int("OggOptions", "MaxBitRate", o.MaxBitRate, d.OggOptions.MaxBitRate);
    b.Int("OggOptions", "NomalBitRate", o.NomalBitRate, d.OggOptions.NomalBitRate);
    b.Int("OggOptions", "MinBitRate", o.MinBitRate, d.OggOptions.MinBitRate);
    b.Int("WMAOptions", "BitRate", s.WMAOptions.BitRate, d.WMAOptions.BitRate);
    b.Int("CDOptions", "Index", s.CDOptions.Index, d.CDOptions.Index);
    b.Bool("CDOptions", "CDDb", s.CDOptions.CDDb, d.CDOptions.CDDb);
    b.Bool("RecordOptions", "SaveMp3", s.RecordOptions.SaveMp3, d.RecordOptions.SaveMp3);
    auto& q = s.QueryCDDB;
    b.Text("QueryCDDB", "Server", q.Server, d.QueryCDDB.Server);
    b.Text("QueryCDDB", "Script", q.Script, d.QueryCDDB.Script);
    b.Bool("QueryCDDB", "UseProxy", q.UseProxy, d.QueryCDDB.UseProxy);
    b.Text("QueryCDDB", "ProxyAddress", q.ProxyAddress, d.QueryCDDB.ProxyAddress);
    b.Text("QueryCDDB", "Port", q.Port, d.QueryCDDB.Port);
    b.Bool("ID3", "Use", s.ID3.Use, d.ID3.Use);
    // Sections added later come last, so older files keep their order.
    auto& r = s.SecureRip;
    b.Bool("SecureRip", "Enabled", r.Enabled, d.SecureRip.Enabled);
    b.Int("SecureRip", "ReadOffset", r.ReadOffset, d.SecureRip.ReadOffset);
    b.Bool("SecureRip", "TestAndCopy", r.TestAndCopy, d.SecureRip.TestAndCopy);
    b.Bool("SecureRip", "AccurateRip", r.AccurateRip, d.SecureRip.AccurateRip);
    b.Text("SecureRip", "AccurateRipServer", r.AccurateRipServer, d.SecureRip.AccurateRipServer);
    b.Bool("SecureRip", "CTDB", r.CTDB, r.AccurateRip); // read after AccurateRip
    b.Text("SecureRip", "CTDBServer", r.CTDBServer, d.SecureRip.CTDBServer);
    b.Int("SecureRip", "SectorRetries", r.SectorRetries, d.SecureRip.SectorRetries);
    b.Bool("SecureRip", "FastFirst", r.FastFirst, d.SecureRip.FastFirst);
    // A file that has the window's section already gets this one appended after it.
    b.Int("Performance", "Encoders", s.Performance.Encoders, d.Performance.Encoders);
    b.Bool("Tags", "ID3v2", s.Tags.ID3v2, d.Tags.ID3v2);
    b.Bool("Tags", "VorbisComments", s.Tags.VorbisComments, d.Tags.VorbisComments);
    b.Bool("Tags", "SaveCover", s.Tags.SaveCover, d.Tags.SaveCover);
    auto& md = s.Metadata;
    b.Text("Metadata", "Order", md.Order, d.Metadata.Order);
    b.Bool("Metadata", "MusicBrainz", md.MusicBrainz, d.Metadata.MusicBrainz);
    b.Text("Metadata", "MusicBrainzServer", md.MusicBrainzServer, d.Metadata.MusicBrainzServer);
    b.Text("Metadata", "CoverArtServer", md.CoverArtServer, d.Metadata.CoverArtServer);
    b.Text("Metadata", "CddbEmail", md.CddbEmail, d.Metadata.CddbEmail);
    b.Text("Naming", "Template", s.Naming.Template, d.Naming.Template);
    b.Bool("Naming", "Playlist", s.Naming.Playlist, d.Naming.Playlist);
    b.Bool("Naming", "CueSheet", s.Naming.CueSheet, d.Naming.CueSheet);
    b.Bool("Naming", "SingleFile", s.Naming.SingleFile, d.Naming.SingleFile);
    b.Bool("Naming", "HiddenTrack", s.Naming.HiddenTrack, d.Naming.HiddenTrack);
    b.Int("FLACOptions", "Level", s.FLACOptions.Level, d.FLACOptions.Level);
    b.Bool("FLACOptions", "Verify", s.FLACOptions.Verify, d.FLACOptions.Verify);
    b.Int("OpusOptions", "BitRate", s.OpusOptions.BitRate, d.OpusOptions.BitRate);
    b.Bool("ReplayGain", "Enabled", s.ReplayGain.Enabled, d.ReplayGain.Enabled);
    auto& w = s.MainWindow;
    b.Int("MainWindow", "Left", w.Left, d.MainWindow.Left);
    b.Int("MainWindow", "Top", w.Top, d.MainWindow.Top);
    b.Int("MainWindow", "Width", w.Width, d.MainWindow.Width);
    b.Int("MainWindow", "Height", w.Height, d.MainWindow.Height);
    b.Bool("MainWindow", "Maximized", w.Maximized, d.MainWindow.Maximized);
    for (std::size_t column = 0; column < w.ColumnWidths.size(); ++column) {
        const std::string key = "Column" + std::to_string(column) + "Width";
        b.Int("MainWindow", key.c_str(), w.ColumnWidths[column], 0);
    }
}

void BindDiscFields(Binder& b, const std::string& key, TDiscInfo& info) {
    b.Text(key, "Artist", info.Artist, "");
    b.Text(key, "Album", info.Album, "");
    b.Text(key, "Year", info.Year, "");
    b.Int(key, "Genre", info.Genre, -1);
    b.Text(key, "Comment", info.Comment, "");
    b.Int(key, "TrackNumber", info.TrackNumber, 100);
}

// Keys added later to a disc's section, after its titles: written when they have a value or are in
// the file already (so a value the user clears is cleared), loaded when present.
void BindDiscExtras(Binder& b, platform::IniFile& ini, const std::string& key, TDiscInfo& info) {
    const auto bind = [&](const std::string& name, std::string& field) {
        if (!b.Loading() && field.empty() && !ini.Find(key, name)) {
            return;
        }
        b.Text(key, name.c_str(), field, "");
    };
    bind("AlbumArtist", info.AlbumArtist);
    bind("DiscNumber", info.DiscNumber);
    bind("MBReleaseId", info.MbReleaseId);
    bind("CoverFile", info.CoverFile);
    for (std::size_t n = 1; n < info.TrackArtists.size(); ++n) {
        bind("Artist" + std::to_string(n), info.TrackArtists[n]);
        bind("MBRecordingId" + std::to_string(n), info.MbRecordingIds[n]);
    }
}

// Titles 1 up to count (saving and noting; loading has rules of its own, LoadTitles).
void BindTitles(Binder& b, const std::string& key, int count) {
    for (int n = 1; n <= count; ++n) {
        auto& title = DiscInfo.Titles[static_cast<std::size_t>(n)];
        b.Text(key, std::to_string(n), title, title);
    }
}

std::string DefaultTitle(int n) {
    return "Track" + TwoDigits(n);
}

// Titles 1 up to TrackNumber (never past 100). A TrackNumber of 0 or less is damage,
// not a disc without tracks: the titles stored for the disc are read all the same, so
// that the next close does not overwrite them with default names.
void LoadTitles(const platform::IniFile& ini, const std::string& key) {
    const bool badCount = DiscInfo.TrackNumber <= 0;
    const int count = badCount ? 100 : std::min(DiscInfo.TrackNumber, 100);
    for (int n = 1; n <= count; ++n) {
        const auto stored = ini.Find(key, std::to_string(n));
        if (badCount && !stored) {
            continue;
        }
        const std::string title = stored.value_or("");
        DiscInfo.Titles[static_cast<std::size_t>(n)] = title.empty() ? DefaultTitle(n) : title;
    }
}

// Notes the record's values as now synced with the file (as read, or as just written).
void NoteOptions(platform::IniFile& ini) {
    SyncedOptions = Synced{ini.FileName(), {}};
    Binder note(&ini, Binder::Mode::Note, &*SyncedOptions);
    BindOptions(note, Settings);
}

void NoteDisc(platform::IniFile& ini, const std::string& key) {
    SyncedDisc = Synced{ini.FileName(), {}};
    Binder note(&ini, Binder::Mode::Note, &*SyncedDisc);
    BindDiscFields(note, key, DiscInfo);
    BindDiscExtras(note, ini, key, DiscInfo);
    BindTitles(note, key, 100);
}

} // namespace

int TQueryCDDB::PortOf(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    if (first == std::string::npos || last - first + 1 > 5) {
        return 80;
    }
    int port = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return 80;
        }
        port = port * 10 + (text[i] - '0');
    }
    return port >= 1 && port <= 65535 ? port : 80;
}

void ClampCodecOptions(TSettings& s) {
    s.FLACOptions.Level =
        std::clamp(s.FLACOptions.Level, TFlacOptions::MinLevel, TFlacOptions::MaxLevel);
    s.OpusOptions.BitRate =
        std::clamp(s.OpusOptions.BitRate, TOpusOptions::MinBitRate, TOpusOptions::MaxBitRate);
}

void LoadSaveOptions(bool Load) {
    const std::string path = platform::ProgramFolder() + "options.ini";
    if (Load) {
        platform::IniFile ini(path);
        Binder binder(&ini, Binder::Mode::Load, nullptr);
        BindOptions(binder, Settings);
        Settings.OggOptions.CompressPosition =
            std::clamp(Settings.OggOptions.CompressPosition, 30, 100);
        Settings.SecureRip.ReadOffset = std::clamp(
            Settings.SecureRip.ReadOffset, -TSecureRip::MaxReadOffset, TSecureRip::MaxReadOffset);
        Settings.SecureRip.SectorRetries =
            std::clamp(Settings.SecureRip.SectorRetries, 0, TSecureRip::MaxSectorRetries);
        Settings.Performance.Encoders =
            std::clamp(Settings.Performance.Encoders, 1, TPerformance::MaxEncoders);
        ClampCodecOptions(Settings);
        NoteOptions(ini);
        return;
    }
    // Merged into the file as it is now, which another instance may have saved since.
    const platform::FileLock lock(SettingsLockPath());
    platform::IniFile ini(path);
    Binder binder(&ini, Binder::Mode::Save, SyncedWith(SyncedOptions, path));
    BindOptions(binder, Settings);
    if (ini.Changed()) {
        ini.UpdateFile();
    }
    NoteOptions(ini);
}

void LoadSaveDiscInfo(const std::string& key, bool Load) {
    if (key.empty()) {
        return;
    }
    const std::string path = DiscHistoryPath();
    if (Load) {
        platform::IniFile ini(path);
        Binder binder(&ini, Binder::Mode::Load, nullptr);
        BindDiscFields(binder, key, DiscInfo);
        BindDiscExtras(binder, ini, key, DiscInfo);
        LoadTitles(ini, key);
        NoteDisc(ini, key);
        return;
    }
    const platform::FileLock lock(SettingsLockPath());
    platform::IniFile ini(path);
    Binder binder(&ini, Binder::Mode::Save, SyncedWith(SyncedDisc, path));
    BindDiscFields(binder, key, DiscInfo);
    // Never past the title array, whatever the caller left in TrackNumber.
    BindTitles(binder, key, std::min(DiscInfo.TrackNumber, 100));
    BindDiscExtras(binder, ini, key, DiscInfo);
    if (ini.Changed()) {
        ini.UpdateFile();
    }
    NoteDisc(ini, key);
}

std::string DiscKey() {
    const int drives = cd::CDDriveCount();
    for (int i = 0; i < drives; ++i) {
        if (!IsAudioCDDrive(i)) {
            continue;
        }
        std::uint32_t id = 0;
        if (!cd::DiscIdOfDrive(i, id)) {
            return {};
        }
        return std::to_string(static_cast<std::int32_t>(id));
    }
    return {};
}

std::string TwoDigits(int n) {
    return (n <= 9 ? "0" : "") + std::to_string(n);
}

std::string IncludeBackslash(const std::string& path) {
    if (path.empty() || path.back() == '/') {
        return path;
    }
    return path + "/";
}

bool IsFileInUse(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        return true; // read-only counts as in use, even for root
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    bool inUse = false;
    // A write lease is refused while any other process has the file open.
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else {
        inUse = errno == EAGAIN || errno == EBUSY;
    }
    ::close(fd);
    return inUse;
}

void WaitMs(int ms) {
    if (ms < 1) {
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
    }
}

std::int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool IsAudioCDDrive(int driveIndex) {
    return cd::IsAudioCDInDrive(driveIndex);
}

bool CloseCD(int handle) {
    return handle == 0 || cd::CloseCDHandle(handle) != 0;
}

int GenreIndexOf(const std::string& name) {
    const auto it = std::find(GenreNames.begin(), GenreNames.end(), name);
    return it == GenreNames.end() ? -1 : static_cast<int>(it - GenreNames.begin());
}

} // namespace settings
