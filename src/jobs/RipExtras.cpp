#include "jobs/RipExtras.h"

#include <algorithm>
#include <filesystem>

#include "bytes/WavHeader.h"
#include "cd/CueSheet.h"
#include "jobs/Playlist.h"
#include "settings/FileNames.h"

namespace jobs {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kCdBytesPerSecond = 44100 * 4;

// The length of a rip's WAV (the canonical header and CD audio), to the nearest second.
int SecondsOf(const std::string& wav) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(wav, ec);
    if (ec || size < bytes::kPcmWavHeaderBytes) {
        return 0;
    }
    const std::uintmax_t audio = size - bytes::kPcmWavHeaderBytes;
    return static_cast<int>((audio + kCdBytesPerSecond / 2) / kCdBytesPerSecond);
}

std::string Relative(const std::string& path, const std::string& folder) {
    return fs::path(path).lexically_relative(folder).generic_string();
}

std::string Playlist(const TJobPlan& plan, const std::vector<int>& made,
                     const std::string& folder) {
    std::vector<TPlaylistEntry> entries;
    for (const int i : made) {
        entries.push_back(
            {plan.Output(i), SecondsOf(plan.Wav(i)), plan.NameFields(i).Artist, plan.Title(i)});
    }
    return PlaylistText(folder, entries);
}

// Empty when the disc cannot be read.
std::string CueSheet(const TJobPlan& plan, const std::vector<int>& made, const std::string& folder,
                     cd::HCDROM handle) {
    std::optional<cd::TCueDisc> disc = cd::ReadCueDisc(handle);
    if (!disc) {
        return {};
    }
    const TJobSettings& s = plan.Settings();
    disc->Title = s.NameDisc.Album;
    disc->Performer = s.NameDisc.AlbumArtist;
    const bool mp3 = plan.EncodeFormat() == settings::TOutputFormat::ofMp3;
    for (const int i : made) {
        if (plan.Track(i) == 0) {
            disc->HiddenFile = Relative(plan.Output(i), folder); // the audio before track 1
            continue;
        }
        const auto track =
            std::find_if(disc->Tracks.begin(), disc->Tracks.end(),
                         [&](const cd::TCueTrack& t) { return t.Number == plan.Track(i); });
        if (track == disc->Tracks.end()) {
            continue;
        }
        track->File = Relative(plan.Output(i), folder);
        track->FileType = mp3 ? "MP3" : "WAVE";
        track->Title = plan.Title(i);
        track->Performer = plan.NameFields(i).Artist;
    }
    return cd::SeparateFilesCue(*disc);
}

// The sheet of a single-file rip: every audio track of the disc in the one file, which
// starts at the disc's first sector (the first audio track's start after a data track).
std::string SingleFileCue(const TJobPlan& plan, cd::HCDROM handle) {
    std::optional<cd::TCueDisc> disc = cd::ReadCueDisc(handle);
    if (!disc || disc->Tracks.empty()) {
        return {};
    }
    const TJobSettings& s = plan.Settings();
    disc->Title = s.NameDisc.Album;
    disc->Performer = s.NameDisc.AlbumArtist;
    for (cd::TCueTrack& t : disc->Tracks) {
        const auto n = static_cast<std::size_t>(t.Number);
        t.Title = n < s.TrackTitles.size() ? s.TrackTitles[n] : std::string();
        t.Performer = n < s.TrackArtists.size() && !s.TrackArtists[n].empty() ? s.TrackArtists[n]
                                                                              : s.NameDisc.Artist;
    }
    const std::uint32_t fileStart =
        disc->Tracks.front().Number == 1 ? 0 : disc->Tracks.front().Start;
    return cd::SingleFileCue(*disc, fs::path(plan.Output(0)).filename().string(), "WAVE",
                             fileStart);
}

} // namespace

std::string SingleFileCuePath(const TJobPlan& plan) {
    return fs::path(plan.Output(0)).replace_extension(".cue").string();
}

std::vector<int> MadeItems(const TJobPlan& plan, int extracted, const std::vector<bool>& encoded) {
    std::vector<int> made;
    if (plan.Kind() != jkExtract) {
        return made;
    }
    for (int i = 0; i < plan.ItemCount(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        std::error_code ec;
        const bool done = plan.EncodesAfterExtraction()
                              ? at < encoded.size() && encoded[at]
                              : i < extracted && fs::exists(plan.Output(i), ec);
        if (done) {
            made.push_back(i);
        }
    }
    std::stable_sort(made.begin(), made.end(),
                     [&](int a, int b) { return plan.Track(a) < plan.Track(b); });
    return made;
}

std::string WriteRipExtras(const TJobPlan& plan, int extracted, const std::vector<bool>& encoded,
                           cd::HCDROM handle) {
    const settings::TNaming& naming = plan.Settings().Naming;
    if (!naming.Playlist && !naming.CueSheet && !plan.WholeDisc()) {
        return {};
    }
    const std::vector<int> made = MadeItems(plan, extracted, encoded);
    if (made.empty()) {
        return {};
    }
    std::string problems;
    if (plan.WholeDisc()) {
        // The file is the disc only together with its sheet, which is always written.
        const std::string path = SingleFileCuePath(plan);
        const std::string cue = SingleFileCue(plan, handle);
        const std::string why =
            cue.empty() ? path + " was not written: the disc's layout could not be read."
                        : WriteWholeFile(path, cue);
        problems += why.empty() ? "" : why + "\n";
    }
    std::vector<std::string> outputs;
    for (const int i : made) {
        outputs.push_back(plan.Output(i));
    }
    const std::string folder = CommonFolder(outputs);
    const std::string& album = plan.Settings().NameDisc.Album;
    const std::string stem = album.empty() ? "Rip" : album;
    if (naming.Playlist) {
        const std::string why =
            WriteWholeFile(TJobPlan::FileName(folder, stem, ".m3u8"), Playlist(plan, made, folder));
        problems += why.empty() ? "" : why + "\n";
    }
    if (naming.CueSheet && !plan.WholeDisc()) {
        const std::string path = TJobPlan::FileName(folder, stem, ".cue");
        const std::string cue = CueSheet(plan, made, folder, handle);
        const std::string why =
            cue.empty() ? path + " was not written: the disc's layout could not be read."
                        : WriteWholeFile(path, cue);
        problems += why.empty() ? "" : why + "\n";
    }
    if (!problems.empty()) {
        problems.pop_back();
    }
    return problems;
}

} // namespace jobs
