#include "jobs/JobPlan.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "settings/FileNames.h"
#include "settings/ProcessInfo.h"

namespace jobs {

namespace {

using settings::TOutputFormat;
using settings::TStepMaker;

constexpr int kDefaultWmaPreset = 8;
constexpr std::size_t kRipSuffixRoom = 20; // " (rip 123456789012)"
constexpr const char* kHiddenTrackTitle = "Hidden track";
constexpr const char* kWholeDiscTitle = "Disc"; // a single file's title when the album has none

// The longest start of text within max bytes that ends at a whole UTF-8 character.
std::string CutAtCharacter(std::string text, std::size_t max) {
    if (text.size() <= max) {
        return text;
    }
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
        --end;
    }
    text.resize(end);
    return text;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string Stem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

std::string ParentFolder(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

// The values only the full-length tags carry; the cover is read here, once for the job.
void SnapshotFullTags(const settings::TTagOptions& options, const settings::TDiscInfo& d,
                      TJobSettings& j) {
    j.TagOptions = options;
    j.Tag.AlbumArtist = d.AlbumArtist;
    j.Tag.DiscNumber = d.DiscNumber;
    j.Tag.MbReleaseId = d.MbReleaseId;
    j.Tag.TrackTotal = d.TrackNumber;
    j.TrackArtists = d.TrackArtists;
    j.MbRecordingIds = d.MbRecordingIds;
    if ((j.Tags && (options.ID3v2 || options.VorbisComments)) || options.SaveCover) {
        j.Tag.Cover = PrepareCover(d.CoverFile);
    }
}

// Whether a rip's output of the format gets a full-length tag.
bool WritesFullTags(const settings::TOutputFormatRow* row, const TJobSettings& s) {
    if (row == nullptr || !s.Tags) {
        return false;
    }
    return (row->Tags == settings::TTagKind::tkId3 && s.TagOptions.ID3v2) ||
           (row->Tags == settings::TTagKind::tkVorbisComment && s.TagOptions.VorbisComments);
}

std::string GenreName(int position) {
    return position >= 0 && position < settings::GenreNameCount
               ? settings::GenreNames[static_cast<std::size_t>(position)]
               : std::string();
}

} // namespace

TJobSettings SnapshotSettings() {
    settings::TSettings& s = settings::Settings;
    if (s.WMAOptions.BitRate < 0 || s.WMAOptions.BitRate >= settings::WmaPresetCount) {
        s.WMAOptions.BitRate = kDefaultWmaPreset;
    }
    TJobSettings j;
    j.OutputFolder = s.CommonOptions.OutputFolder;
    j.OutputFormat = s.CommonOptions.OutputFormat;
    j.KeepWav = s.CommonOptions.IsKeepWav;
    j.Normalize = s.CommonOptions.IsNormalize;
    j.NormalizePercent = s.CommonOptions.NormalizePercent;
    j.EnableRipTime = s.CommonOptions.EnableRipTime;
    j.RipTime = s.CommonOptions.RipTime;
    j.Mp3 = s.Mp3Options;
    j.Ogg = s.OggOptions;
    j.WmaPreset = s.WMAOptions.BitRate;
    j.Tags = s.ID3.Use;
    const settings::TDiscInfo& d = settings::DiscInfo;
    j.Tag.Artist = d.Artist;
    j.Tag.Album = d.Album;
    j.Tag.Year = d.Year;
    j.Tag.Genre = d.Genre;
    j.Tag.Comment = d.Comment;
    j.Encoders = s.Performance.Encoders;
    SnapshotFullTags(s.Tags, d, j);
    j.Naming = s.Naming;
    j.NameDisc.Artist = d.Artist;
    j.NameDisc.AlbumArtist = d.AlbumArtist.empty() ? d.Artist : d.AlbumArtist;
    j.NameDisc.Album = d.Album;
    j.NameDisc.Year = d.Year;
    j.NameDisc.Genre = GenreName(d.Genre);
    j.NameDisc.Disc = d.DiscNumber;
    j.Flac = s.FLACOptions;
    j.Opus = s.OpusOptions;
    j.ReplayGain = s.ReplayGain.Enabled;
    j.TrackTitles = d.Titles;
    return j;
}

std::vector<std::string> WithHiddenTrack(std::vector<std::string> items, const TJobSettings& s,
                                         const std::function<bool()>& discHidesAudio) {
    const bool withTrackOne = std::any_of(items.begin(), items.end(), [](const std::string& item) {
        return std::atoi(item.substr(0, 2).c_str()) == 1;
    });
    if (s.Naming.HiddenTrack && !s.Naming.SingleFile && withTrackOne && discHidesAudio()) {
        items.insert(items.begin(), std::string("00") + kHiddenTrackTitle);
    }
    return items;
}

TJobPlan::TJobPlan(TJobKind kind, std::vector<std::string> items, TJobSettings settings)
    : kind_(kind), items_(std::move(items)), settings_(std::move(settings)) {
    if (WholeDisc()) {
        const std::string& album = settings_.NameDisc.Album;
        items_ = {"00" + (album.empty() ? std::string(kWholeDiscTitle) : album)};
    }
    NameWavs();
}

bool TJobPlan::SingleFileFallsBackToWav() const {
    return WholeDisc() && settings_.OutputFormat != TOutputFormat::ofWav &&
           settings_.OutputFormat != TOutputFormat::ofFlac;
}

std::string TJobPlan::FileName(const std::string& folder, const std::string& stem,
                               const std::string& extension) {
    // A stem from a title may hold "/" or be ".."; the file stays in the folder all the same.
    return settings::IncludeBackslash(folder) + settings::FileNameFromTitle(stem) + extension;
}

std::string TJobPlan::PartialName(const std::string& path, int item) {
    return path + "." + std::to_string(item + 1) + ".part";
}

// An extracted WAV that is only a step on the way never takes the name of a file the job
// did not make (a WAV the user ripped earlier) nor one another track of the job uses.
void TJobPlan::NameWavs() {
    if (kind_ != jkExtract) {
        return;
    }
    const bool intermediate = EncodesAfterExtraction();
    std::set<std::string> taken;
    for (int i = 0; i < ItemCount(); ++i) {
        std::string wav = DesignedWav(i);
        if (intermediate && UsableTitle(i)) {
            // Room for the number, or a long title would cut it off again and never differ.
            const settings::TItemName name = ItemName(i);
            const std::string base =
                CutAtCharacter(name.Stem, settings::kMaxFileNameBytes - kRipSuffixRoom);
            for (int n = 1; Exists(wav) || taken.count(wav) != 0; ++n) {
                wav = FileName(ItemFolder(name), base + " (rip " + std::to_string(n) + ")", ".wav");
            }
        }
        taken.insert(wav);
        wavs_.push_back(wav);
    }
}

std::optional<TOutputFormat> TJobPlan::EncodeFormat() const {
    switch (kind_) {
    case jkExtract: {
        const settings::TOutputFormatRow* row = settings::FormatRow(settings_.OutputFormat);
        if (row == nullptr || row->Step == TStepMaker::smNone) {
            return std::nullopt;
        }
        if (WholeDisc() && row->Format != TOutputFormat::ofFlac) {
            return std::nullopt;
        }
        return row->Format;
    }
    case jkWavToMp3:
    case jkRecordedToMp3:
        return TOutputFormat::ofMp3;
    case jkMp3ToWav:
        return TOutputFormat::ofWav;
    case jkWavToOgg:
        return TOutputFormat::ofOgg;
    case jkWavToWma:
        return TOutputFormat::ofWma;
    case jkWavToFlac:
        return TOutputFormat::ofFlac;
    case jkWavToOpus:
        return TOutputFormat::ofOpus;
    case jkFlacToWav:
        return TOutputFormat::ofWav;
    }
    return std::nullopt;
}

bool TJobPlan::EncodesAfterExtraction() const {
    return kind_ == jkExtract && EncodeFormat().has_value();
}

std::int32_t TJobPlan::EndCode() const {
    if (kind_ == jkMp3ToWav) {
        return settings::PI_MP3_ENDED; // lame decodes
    }
    if (kind_ == jkFlacToWav) {
        return settings::PI_FLAC_DECODED;
    }
    const std::optional<TOutputFormat> format = EncodeFormat();
    return format ? settings::FormatRow(*format)->EndCode : 0;
}

bool TJobPlan::Resamples() const {
    return kind_ == jkWavToMp3 || kind_ == jkWavToOgg;
}

std::vector<TStepKind> TJobPlan::Steps(int /*i*/) const {
    std::vector<TStepKind> steps;
    if (kind_ == jkExtract) {
        steps.push_back(TStepKind::skExtract);
    }
    if (Resamples()) {
        steps.push_back(TStepKind::skResample);
    }
    if (kind_ == jkMp3ToWav || kind_ == jkFlacToWav) {
        steps.push_back(TStepKind::skDecode);
    } else if (kind_ != jkExtract || EncodesAfterExtraction()) {
        steps.push_back(TStepKind::skEncode);
    }
    if (kind_ == jkExtract && EncodeFormat() == TOutputFormat::ofMp3 && settings_.Tags) {
        steps.push_back(TStepKind::skTag);
    }
    if (EncodesAfterExtraction() || Resamples()) {
        steps.push_back(TStepKind::skCleanUp);
    }
    return steps;
}

int TJobPlan::Track(int i) const {
    return std::atoi(items_.at(static_cast<std::size_t>(i)).substr(0, 2).c_str());
}

std::string TJobPlan::Title(int i) const {
    const std::string& item = items_.at(static_cast<std::size_t>(i));
    return item.size() > 2 ? item.substr(2) : std::string();
}

// Every title but an empty one names a file in the output folder (FileName makes it safe).
bool TJobPlan::UsableTitle(int i) const {
    return !Title(i).empty();
}

std::string TJobPlan::DesignedWav(int i) const {
    const settings::TItemName name = ItemName(i);
    return FileName(ItemFolder(name), name.Stem, ".wav");
}

settings::TNameFields TJobPlan::NameFields(int i) const {
    settings::TNameFields fields = settings_.NameDisc;
    fields.Track = Track(i);
    fields.Title = Title(i);
    if (WholeDisc()) {
        return fields; // the disc's artist: the file is no track's
    }
    const int track = fields.Track;
    if (track >= 1 && track < static_cast<int>(settings_.TrackArtists.size()) &&
        !settings_.TrackArtists[static_cast<std::size_t>(track)].empty()) {
        fields.Artist = settings_.TrackArtists[static_cast<std::size_t>(track)];
    }
    return fields;
}

settings::TItemName TJobPlan::ItemName(int i) const {
    const settings::TNameFields fields = NameFields(i);
    if (WholeDisc()) {
        return settings::ExpandNameTemplate(
            settings::SingleFileTemplate(settings_.Naming.Template, fields), fields);
    }
    return settings::ExpandNameTemplate(settings_.Naming.Template, fields);
}

std::string TJobPlan::ItemFolder(const settings::TItemName& name) const {
    return name.Folders.empty() ? settings_.OutputFolder
                                : settings::IncludeBackslash(settings_.OutputFolder) + name.Folders;
}

std::string TJobPlan::Wav(int i) const {
    return wavs_.at(static_cast<std::size_t>(i));
}

std::string TJobPlan::CaptionName(int i) const {
    return kind_ == jkExtract ? Title(i) : items_.at(static_cast<std::size_t>(i));
}

std::string TJobPlan::Input(int i) const {
    return kind_ == jkExtract ? Wav(i) : items_.at(static_cast<std::size_t>(i));
}

std::string TJobPlan::Output(int i) const {
    const std::optional<TOutputFormat> format = EncodeFormat();
    if (!format) {
        return Wav(i);
    }
    const std::string extension = settings::FormatRow(*format)->Extension;
    if (kind_ == jkExtract) {
        const settings::TItemName name = ItemName(i);
        return FileName(ItemFolder(name), name.Stem, extension);
    }
    const std::string& item = items_.at(static_cast<std::size_t>(i));
    const std::string folder =
        kind_ == jkRecordedToMp3 ? ParentFolder(item) : settings_.OutputFolder;
    return FileName(folder, Stem(item), extension);
}

std::string TJobPlan::ResampleTemp() const {
    return FileName(settings_.OutputFolder, kind_ == jkWavToOgg ? "MyReTemp" : "MyMP3ReTemp",
                    ".wav");
}

cd::TRipOptions TJobPlan::RipOptions(int i) const {
    cd::TRipOptions rip;
    rip.WavPath = PartialName(Wav(i), i);
    rip.EnableRipTime = settings_.EnableRipTime;
    rip.RipTime = settings_.RipTime;
    rip.IsNormalize = settings_.Normalize;
    rip.NormalizePercent = settings_.NormalizePercent;
    if (kind_ == jkExtract && !ItemName(i).Folders.empty()) {
        rip.MakeFoldersUnder = settings_.OutputFolder;
    }
    if (WholeDisc()) {
        rip.Span = cd::TRipSpan::WholeDisc;
    } else if (kind_ == jkExtract && Track(i) == 0) {
        rip.Span = cd::TRipSpan::HiddenTrack;
    }
    return rip;
}

TEncodeRequest TJobPlan::EncodeRequest(int i, const std::string& input) const {
    TEncodeRequest r;
    r.Format = EncodeFormat().value_or(TOutputFormat::ofWav);
    r.Decode = kind_ == jkMp3ToWav;
    r.DecodeFlac = kind_ == jkFlacToWav;
    r.Input = input;
    r.Output = Output(i);
    r.Partial = PartialName(r.Output, i);
    // A rip or the recorder's export replaces its output; a conversion of chosen files asks.
    const settings::TOutputFormatRow* row = settings::FormatRow(r.Format);
    r.AsksToOverwrite =
        row != nullptr && row->AsksToOverwrite && kind_ != jkExtract && kind_ != jkRecordedToMp3;
    r.Mp3 = settings_.Mp3;
    r.Ogg = settings_.Ogg;
    r.WmaPreset = settings_.WmaPreset;
    r.Flac = settings_.Flac;
    r.Opus = settings_.Opus;
    r.Tag = settings_.Tag;
    r.WmaTags = settings_.Tags;
    // Only a rip knows the track's title and number for an MP3's tag.
    r.WriteId3 = kind_ == jkExtract && r.Format == TOutputFormat::ofMp3 && settings_.Tags;
    if (kind_ == jkExtract) {
        r.TagTitle = Title(i);
        r.TagTrack = Track(i);
        FillFullTags(r, row);
        if (WholeDisc()) {
            r.TagArtist = NameFields(i).AlbumArtist;
            r.TagRecordingId.clear();
        }
    }
    return r;
}

void TJobPlan::FillFullTags(TEncodeRequest& r, const settings::TOutputFormatRow* row) const {
    r.WriteTags = WritesFullTags(row, settings_);
    const auto track = static_cast<std::size_t>(r.TagTrack);
    if (track < settings_.TrackArtists.size()) {
        r.TagArtist = settings_.TrackArtists[track];
        r.TagRecordingId = settings_.MbRecordingIds[track];
    }
    if (r.TagArtist.empty()) {
        r.TagArtist = settings_.Tag.Artist;
    }
    if (settings_.TagOptions.SaveCover) {
        r.SaveCoverIn = ParentFolder(r.Output);
    }
}

std::vector<std::string> TJobPlan::CleanUp(int extracted, const std::vector<bool>& encoded) const {
    std::vector<std::string> files;
    // A track whose encode did not finish keeps its WAV: it is all there is of it.
    if (EncodesAfterExtraction() && extracted == ItemCount() && !settings_.KeepWav) {
        for (int i = 0; i < ItemCount(); ++i) {
            if (i < static_cast<int>(encoded.size()) && encoded[static_cast<std::size_t>(i)]) {
                files.push_back(Wav(i));
            }
        }
    }
    if (Resamples()) {
        files.push_back(ResampleTemp());
    }
    return files;
}

} // namespace jobs
