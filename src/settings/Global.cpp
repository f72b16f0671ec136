#include "settings/Global.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "cd/akrip32.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/UserFolders.h"

namespace settings {

TSettings Settings;
TDiscInfo DiscInfo;

namespace {

// Reads (load) or writes one key, so that the loading and saving halves share one
// table of keys and can never disagree about names, order or defaults.
class Binder {
public:
    Binder(platform::IniFile& ini, bool load) : ini_(ini), load_(load) {}
    void Text(const char* section, const char* key, std::string& field, const std::string& def) {
        if (load_) {
            field = ini_.ReadString(section, key, def);
        } else {
            ini_.WriteString(section, key, field);
        }
    }
    void Int(const char* section, const char* key, int& field, int def) {
        if (load_) {
            // A number the 32-bit field cannot hold counts as not converting.
            const long long value = ini_.ReadInteger(section, key, def);
            const bool fits = value >= std::numeric_limits<std::int32_t>::min() &&
                              value <= std::numeric_limits<std::int32_t>::max();
            field = fits ? static_cast<int>(value) : def;
        } else {
            ini_.WriteInteger(section, key, field);
        }
    }
    void Bool(const char* section, const char* key, bool& field, bool def) {
        if (load_) {
            field = ini_.ReadBool(section, key, def);
        } else {
            ini_.WriteBool(section, key, field);
        }
    }

private:
    platform::IniFile& ini_;
    bool load_;
};

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
    b.Int("CommonOptions", "OutputFormat", c.OutputFormat, d.CommonOptions.OutputFormat);
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
    b.Int("SecureRip", "SectorRetries", r.SectorRetries, d.SecureRip.SectorRetries);
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
    b.Text(key.c_str(), "Artist", info.Artist, "");
    b.Text(key.c_str(), "Album", info.Album, "");
    b.Text(key.c_str(), "Year", info.Year, "");
    b.Int(key.c_str(), "Genre", info.Genre, -1);
    b.Text(key.c_str(), "Comment", info.Comment, "");
    b.Int(key.c_str(), "TrackNumber", info.TrackNumber, 100);
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

} // namespace

void LoadSaveOptions(bool Load) {
    platform::IniFile ini(platform::ProgramFolder() + "options.ini");
    Binder binder(ini, Load);
    BindOptions(binder, Settings);
    if (Load) {
        Settings.OggOptions.CompressPosition =
            std::clamp(Settings.OggOptions.CompressPosition, 30, 100);
        Settings.SecureRip.ReadOffset = std::clamp(
            Settings.SecureRip.ReadOffset, -TSecureRip::MaxReadOffset, TSecureRip::MaxReadOffset);
        Settings.SecureRip.SectorRetries =
            std::clamp(Settings.SecureRip.SectorRetries, 0, TSecureRip::MaxSectorRetries);
    } else {
        ini.UpdateFile();
    }
}

void LoadSaveDiscInfo(const std::string& key, bool Load) {
    if (key.empty()) {
        return;
    }
    platform::IniFile ini(platform::ProgramFolder() + "cdinfo.dat");
    Binder binder(ini, Load);
    BindDiscFields(binder, key, DiscInfo);
    if (Load) {
        LoadTitles(ini, key);
        return;
    }
    // Never past the title array, whatever the caller left in TrackNumber.
    const int count = std::min(DiscInfo.TrackNumber, 100);
    for (int n = 1; n <= count; ++n) {
        ini.WriteString(key, std::to_string(n), DiscInfo.Titles[static_cast<std::size_t>(n)]);
    }
    ini.UpdateFile();
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
