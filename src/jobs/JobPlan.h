#pragma once
// A conversion job without its window: from the job's kind, its items and the settings as
// they were when it started, the plan names every file the job reads and writes (once, here),
// says which steps each item goes through, and decides what is removed when the job ends.
//
// Made and used on the GUI thread; it holds no thread, no widget and no open file. The job
// window runs it and shows its progress.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cd/RipOptions.h"
#include "jobs/CoverImage.h"
#include "settings/Global.h"
#include "settings/NameTemplate.h"

namespace jobs {

// The most encode steps a job runs at once.
constexpr int kMaxEncoders = settings::TPerformance::MaxEncoders;

// What a job does with its items.
enum TJobKind : int {
    jkExtract = 1,       // CD tracks ("03" + title) to WAV, then MP3, OGG or WMA
    jkWavToMp3 = 2,      // WAV files, resampled to 44 100 Hz when slower
    jkMp3ToWav = 3,      // MP3 files decoded by lame
    jkRecordedToMp3 = 4, // the recorder's WAV, encoded beside itself
    jkWavToOgg = 5,      // WAV files, resampled to 44 100 Hz when slower
    jkWavToWma = 6,      // WAV files through WM8EUTIL
    jkWavToFlac = 7,     // WAV files at their own rate, through libFLAC
    jkWavToOpus = 8,     // WAV files at their own rate, through libopusenc
    jkFlacToWav = 9      // FLAC files decoded by libFLAC
};

// The tag values of the current disc.
struct TTagValues {
    std::string Artist;
    std::string Album;
    std::string Year;
    int Genre = -1; // position in the genre list
    std::string Comment;
    // For the full-length tags only.
    std::string AlbumArtist;
    std::string DiscNumber; // "1" or "1/2"
    std::string MbReleaseId;
    int TrackTotal = 0;
    TPreparedCover Cover;
};

// The settings a job runs with, taken on the GUI thread when it starts: what the Options
// window changes later never reaches a running job or its workers.
struct TJobSettings {
    std::string OutputFolder;
    settings::TOutputFormat OutputFormat = settings::TOutputFormat::ofMp3;
    bool KeepWav = false;
    bool Normalize = false;
    int NormalizePercent = 95;
    bool EnableRipTime = false;
    int RipTime = 0;
    settings::TMp3Options Mp3;
    settings::TOggOptions Ogg;
    int WmaPreset = 8; // always a position in WmaPresetCodes
    bool Tags = false; // ID3/Use
    TTagValues Tag;
    int Encoders = 1; // encode steps that may run at once (extraction jobs)
    settings::TTagOptions TagOptions;
    std::array<std::string, 101> TrackArtists;   // by track number, "" where the disc's
    std::array<std::string, 101> MbRecordingIds; // by track number
    // How a rip names its files and what it writes beside them; the template's disc-wide
    // values (Track and Title come from each item) and each track's own artist.
    settings::TNaming Naming;
    settings::TNameFields NameDisc;
    settings::TFlacOptions Flac;
    settings::TOpusOptions Opus;
    bool ReplayGain = false;                  // a rip measures its tracks and tags their gains
    std::array<std::string, 101> TrackTitles; // by track number: a single file's cue names them
};

// Reads the settings record and the disc record. A WMA preset outside the table is put
// back to the default in the settings record too.
TJobSettings SnapshotSettings();

// The items of a rip with the audio hidden before track 1 as item "00Hidden track" first,
// when the settings ask for it, track 1 is among the items, the rip makes separate files and
// `discHidesAudio` (asked only then, as it reads the disc) says the disc has some.
std::vector<std::string> WithHiddenTrack(std::vector<std::string> items, const TJobSettings& s,
                                         const std::function<bool()>& discHidesAudio);

enum class TStepKind { skExtract, skResample, skEncode, skDecode, skTag, skCleanUp };

// Everything an encode (or decode) step needs; the step reads nothing else.
struct TEncodeRequest {
    settings::TOutputFormat Format = settings::TOutputFormat::ofMp3;
    bool Decode = false; // lame reading MP3 into WAV
    std::string Input;
    std::string Output;  // the final name
    std::string Partial; // where the step writes until the output is complete
    bool AsksToOverwrite = false;
    settings::TMp3Options Mp3;
    settings::TOggOptions Ogg;
    int WmaPreset = 8;
    TTagValues Tag;
    bool WmaTags = false;  // Tag's artist and comment on WM8EUTIL's command line
    bool WriteId3 = false; // the step tags the finished MP3 (ID3v1) with Tag, title and track
    std::string TagTitle;
    int TagTrack = 0;
    std::intptr_t StepId = 0; // carried by every record the step sends
    // The full-length tag (ID3v2 or Vorbis comments) the step writes before the rename,
    // from Tag with these values of the track; a failure fails the item.
    bool WriteTags = false;
    std::string TagArtist; // the track's artist
    std::string TagRecordingId;
    std::string SaveCoverIn; // the folder the cover is saved into once; "" for none
    settings::TFlacOptions Flac;
    settings::TOpusOptions Opus;
    bool DecodeFlac = false; // libFLAC reading FLAC into WAV
    // More fields for the full-length tag (the track's ReplayGain values).
    std::vector<std::pair<std::string, std::string>> ExtraTags;
};

class TJobPlan {
public:
    TJobPlan(TJobKind kind, std::vector<std::string> items, TJobSettings settings);

    TJobKind Kind() const { return kind_; }
    // A rip in single-file mode: one item, the whole disc's audio in one file named after
    // the album, whatever tracks were chosen (a file with holes would not be the disc).
    bool WholeDisc() const { return kind_ == jkExtract && settings_.Naming.SingleFile; }
    // Single-file mode writes WAV or FLAC; another chosen format gives WAV.
    bool SingleFileFallsBackToWav() const;
    const TJobSettings& Settings() const { return settings_; }
    int ItemCount() const { return static_cast<int>(items_.size()); }
    const std::string& Item(int i) const { return items_.at(static_cast<std::size_t>(i)); }

    // The single place where a name stem becomes a file name in a folder.
    static std::string FileName(const std::string& folder, const std::string& stem,
                                const std::string& extension);
    // Where a file is written until it is complete (its folder, never its final name).
    static std::string PartialName(const std::string& path, int item);

    // The steps item i goes through, in order (resampling only when its input is slower
    // than 44 100 Hz, which the job learns when it gets there).
    std::vector<TStepKind> Steps(int i) const;
    // The format of the item's encode step; nullopt when there is none (WAV output).
    std::optional<settings::TOutputFormat> EncodeFormat() const;
    bool EncodesAfterExtraction() const;
    // The event that ends an item's encode step.
    std::int32_t EndCode() const;
    // Whether the job's input must be at 44 100 Hz before its encode step.
    bool Resamples() const;

    // Kind 1: the track number, its title, whether the title can name a file, the WAV name
    // as designed (for messages), and the name the rip really writes.
    int Track(int i) const;
    std::string Title(int i) const;
    bool UsableTitle(int i) const;
    std::string DesignedWav(int i) const;
    // Kind 1: the template's values for item i, and the folders and name they give.
    settings::TNameFields NameFields(int i) const;
    settings::TItemName ItemName(int i) const;
    std::string Wav(int i) const;
    // The name in the window's caption: the title (kind 1) or the chosen file.
    std::string CaptionName(int i) const;
    // The file item i starts from: the chosen file, or the extracted WAV.
    std::string Input(int i) const;
    // The final output of item i.
    std::string Output(int i) const;
    std::string ResampleTemp() const;

    cd::TRipOptions RipOptions(int i) const;
    // The request for item i's encode step reading input (the item's input, or the
    // resampled copy).
    TEncodeRequest EncodeRequest(int i, const std::string& input) const;

    // The files to remove when the job ends. encoded[i] says whether item i's encode
    // step produced its output; extracted is the number of tracks whose extraction ended.
    std::vector<std::string> CleanUp(int extracted, const std::vector<bool>& encoded) const;

private:
    void NameWavs();
    void FillFullTags(TEncodeRequest& r, const settings::TOutputFormatRow* row) const;
    std::string ItemFolder(const settings::TItemName& name) const;

    TJobKind kind_;
    std::vector<std::string> items_;
    TJobSettings settings_;
    std::vector<std::string> wavs_;
};

} // namespace jobs
