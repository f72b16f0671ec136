#pragma once
// The process-wide settings record (options.ini), the current disc's record
// (cdinfo.dat) and the small helpers the whole program shares.
//
// Neither record has a lock: the modal windows keep their writers (Options dialog,
// CDDB query) and readers (job workers) apart in time.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/HttpClient.h"
#include "settings/OutputFormat.h"
#include "tags/Genres.h"

namespace settings {

struct TCommonOptions {
    std::string OutputFolder;
    TOutputFormat OutputFormat = TOutputFormat::ofMp3;
    bool IsKeepWav = false;
    bool IsNormalize = false;
    int NormalizePercent = 95;
    bool EnableRipTime = false;
    int RipTime = 0;
};

struct TMp3Options {
    bool IsSelectVBR = false;
    bool IsVBRHead = false; // true = do not write the VBR tag
    int BitRate = 128;
    int MaxBitRate = 320;
    int MpegQuality = 0;
    int VBRQuality = 4;
    int StereoMode = 1;
};

struct TOggOptions {
    bool IsUseCompress = true;
    int CompressPosition = 30; // 30..100
    int MaxBitRate = 0;
    int NomalBitRate = 0;
    int MinBitRate = 0;
};

struct TWMAOptions {
    int BitRate = 8; // position in WmaPresetCodes
};

struct TCDOptions {
    int Index = -1;
    bool CDDb = false;
};

struct TRecordOptions {
    bool SaveMp3 = false;
};

struct TQueryCDDB {
    std::string Server = "gnudb.gnudb.org";
    std::string Script = "/~cddb/cddb.cgi";
    bool UseProxy = false;
    std::string ProxyAddress;
    std::string Port = "80";
    // The proxy every network lookup uses (CDDB, AccurateRip, CTDB).
    platform::HttpProxy Proxy() const { return {UseProxy, ProxyAddress, PortOf(Port)}; }
    // A port text as a number: 1..65535 in decimal (blanks around it allowed), else 80.
    static int PortOf(const std::string& text);
};

struct TID3Options {
    bool Use = false;
};

// Secure extraction (off by default): paranoia reads with the drive's read offset,
// optional test-and-copy, AccurateRip and CTDB verification and a rip log.
struct TSecureRip {
    bool Enabled = false;
    int ReadOffset = 0; // samples, -MaxReadOffset..MaxReadOffset
    bool TestAndCopy = false;
    bool AccurateRip = true;
    std::string AccurateRipServer = "http://www.accuraterip.com";
    bool CTDB = true; // the CUETools database check of the whole disc; when options.ini
                      // has no CTDB key it follows AccurateRip
    std::string CTDBServer = "http://db.cuetools.net";
    int SectorRetries = 20; // re-reads of a damaged sector before it is given up
    bool FastFirst = false; // read each track once; re-read securely only what no
                            // database verifies
    static constexpr int MaxReadOffset = 44100; // one second
    static constexpr int MaxSectorRetries = 100;
};

// Where the main window was and how wide the track list's columns were when it last
// closed (a section of its own at the end of options.ini). A width of 0 means "never
// stored": the window keeps its designed size and columns.
struct TWindowOptions {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool Maximized = false;
    std::array<int, 4> ColumnWidths{};
};

// How a rip uses the machine (a section of its own at the end of options.ini). One
// encoder runs every step in turn; more extract the next track while earlier ones encode.
struct TPerformance {
    int Encoders = 1;
    static constexpr int MaxEncoders = 8;
};

// Full-length tags beside the ID3 version 1 tag, and the disc's cover (a section of its own
// at the end of options.ini). ID3/Use stays the switch for every tag.
struct TTagOptions {
    bool ID3v2 = true;          // MP3 files also get an ID3 version 2.4 tag
    bool VorbisComments = true; // Ogg, Opus and FLAC files get Vorbis comments
    bool SaveCover = false;     // the cover is saved once as cover.jpg/.png beside the files
};

// Disc metadata beyond the CDDB window (a section of its own at the end of options.ini):
// which sources the automatic lookup at disc open tries, the MusicBrainz and cover
// servers, and the address the CDDB hello gives.
struct TMetadata {
    std::string Order = "cddb"; // comma list of musicbrainz, cddb, cdtext, tried in turn
    bool MusicBrainz = true;    // off: MusicBrainz is never asked
    std::string MusicBrainzServer = "https://musicbrainz.org";
    std::string CoverArtServer = "https://coverartarchive.org";
    std::string CddbEmail; // empty: the login name at the host name
};

// How a rip names its files and what it writes beside them (a section of its own at the end
// of options.ini). The default template names each file after its title, in the output folder.
struct TNaming {
    std::string Template = "%t";
    bool Playlist = false; // an M3U8 playlist of the files each rip made
    bool CueSheet = false; // a cue sheet of the files each rip made
    // A rip makes one file of the whole disc (WAV, or FLAC when that is the format) and a
    // cue sheet that gives the disc's layout back.
    bool SingleFile = false;
    // A rip of track 1 also rips the audio a disc hides before track 1's start, as track 00,
    // when there is some that is not digital silence.
    bool HiddenTrack = false;
};

// The lossless encoder: compression level 0 (fastest) to 8 (smallest), and whether every
// encoded frame is decoded again and compared with its input.
struct TFlacOptions {
    int Level = 5;
    bool Verify = true;
    static constexpr int MinLevel = 0;
    static constexpr int MaxLevel = 8;
};

// The Opus encoder's variable bit rate, in kbit/s.
struct TOpusOptions {
    int BitRate = 160;
    static constexpr int MinBitRate = 6;
    static constexpr int MaxBitRate = 256;
};

// Loudness tags (a section of its own at the end of options.ini): a rip measures each track
// as it writes it and tags track and album gain and peak.
struct TReplayGain {
    bool Enabled = false;
};

struct TSettings {
    TCommonOptions CommonOptions;
    TMp3Options Mp3Options;
    TOggOptions OggOptions;
    TWMAOptions WMAOptions;
    TCDOptions CDOptions;
    TRecordOptions RecordOptions;
    TQueryCDDB QueryCDDB;
    TID3Options ID3;
    TSecureRip SecureRip;
    TWindowOptions MainWindow;
    TPerformance Performance;
    TTagOptions Tags;
    TMetadata Metadata;
    TNaming Naming;
    TFlacOptions FLACOptions;
    TOpusOptions OpusOptions;
    TReplayGain ReplayGain;
};

struct TDiscInfo {
    std::string Artist;
    std::string Album;
    std::string Year;
    int Genre = -1; // position in the 149-entry genre list; -1 = not set
    std::string Comment;
    int TrackNumber = 0;
    std::array<std::string, 101> Titles; // 1..100 are used; [0] is unused
    // Kept for the tags and file names when a lookup or the user supplies them; each is
    // stored only once it has a value, so older sections keep their bytes.
    std::string AlbumArtist;
    std::string DiscNumber;                      // "1" or "1/2"
    std::string MbReleaseId;                     // MusicBrainz release id
    std::string CoverFile;                       // the disc's front cover image
    std::array<std::string, 101> TrackArtists;   // a track's artist where it differs
    std::array<std::string, 101> MbRecordingIds; // MusicBrainz recording ids
};

// The one settings record and the one disc record of the process.
extern TSettings Settings;
extern TDiscInfo DiscInfo;

// Reads (Load) or writes options.ini in the program folder. Writing merges into the file
// as it is on disk then, under a lock shared by every instance on the folder: a key is
// left as the file has it when this process did not change it since it last read or wrote
// the file and another process did. A refused write throws
// std::runtime_error("Unable to write to <path>").
void LoadSaveOptions(bool Load);
// Puts the FLAC level and the Opus bit rate back into their ranges.
void ClampCodecOptions(TSettings& s);
// Reads or writes the disc's section of cdinfo.dat, merging as LoadSaveOptions does;
// nothing happens for an empty key.
void LoadSaveDiscInfo(const std::string& DiscKey, bool Load);
// The disc id of the first drive holding an audio CD, as signed decimal; "" for none.
std::string DiscKey();

std::string TwoDigits(int n);
std::string IncludeBackslash(const std::string& path); // appends "/" (Linux path separator)
bool IsFileInUse(const std::string& path);
void WaitMs(int ms);
std::int64_t FileSizeOf(const std::string& path);
bool IsAudioCDDrive(int driveIndex);
bool CloseCD(int handle);
int GenreIndexOf(const std::string& name);

constexpr int WmaPresetCount = 33;
extern const std::array<const char*, WmaPresetCount> WmaPresetCodes;
constexpr int GenreNameCount = 148;
// The genre names in the order of the genre boxes, without their leading blank entry.
inline const std::span<const char* const, GenreNameCount> GenreNames{tags::GenreList.data() + 1,
                                                                     GenreNameCount};

} // namespace settings
