#include "cd/CueSheet.h"

#include <cdio/cdio.h>
#include <cdio/memory.h>

#include <cstdio>

#include "cd/CdImageList.h"

namespace cd {

namespace {

constexpr std::uint32_t kFramesPerSecond = 75;
constexpr std::uint32_t kFramesPerMinute = 60 * kFramesPerSecond;

// A cue sheet's strings have no escape for a quote mark.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        out.push_back(c == '"' ? '\'' : (c == '\n' || c == '\r' ? ' ' : c));
    }
    return out + "\"";
}

std::string TakeCdioString(char* text) {
    std::string out = text != nullptr ? text : "";
    cdio_free(text);
    return out;
}

void AddTrackLines(std::string& cue, const TCueTrack& t) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", t.Number);
    cue += "  TRACK " + std::string(number) + " AUDIO\n";
    if (!t.Title.empty()) {
        cue += "    TITLE " + Quoted(t.Title) + "\n";
    }
    if (!t.Performer.empty()) {
        cue += "    PERFORMER " + Quoted(t.Performer) + "\n";
    }
    if (!t.Isrc.empty()) {
        cue += "    ISRC " + t.Isrc + "\n";
    }
}

std::string DiscLines(const TCueDisc& disc) {
    std::string cue;
    if (!disc.Catalog.empty()) {
        cue += "CATALOG " + disc.Catalog + "\n";
    }
    if (!disc.Performer.empty()) {
        cue += "PERFORMER " + Quoted(disc.Performer) + "\n";
    }
    if (!disc.Title.empty()) {
        cue += "TITLE " + Quoted(disc.Title) + "\n";
    }
    return cue;
}

} // namespace

std::string SingleFileCue(const TCueDisc& disc, const std::string& file,
                          const std::string& fileType, std::uint32_t fileStart) {
    std::string cue = DiscLines(disc) + "FILE " + Quoted(file) + " " + fileType + "\n";
    for (const TCueTrack& t : disc.Tracks) {
        if (t.Start < fileStart) {
            continue; // before the file: not a track of it
        }
        AddTrackLines(cue, t);
        if (t.Pregap && *t.Pregap >= fileStart) {
            cue += "    INDEX 00 " + CueMsf(*t.Pregap - fileStart) + "\n";
        } else if (t.Pregap && t.Start > *t.Pregap) {
            cue += "    PREGAP " + CueMsf(t.Start - *t.Pregap) + "\n";
        }
        cue += "    INDEX 01 " + CueMsf(t.Start - fileStart) + "\n";
    }
    return cue;
}

std::string CueMsf(std::uint32_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / kFramesPerMinute,
                  frames % kFramesPerMinute / kFramesPerSecond, frames % kFramesPerSecond);
    return text;
}

std::optional<TCueDisc> ReadCueDisc(HCDROM handle) {
    CdioPtr cdio = OpenCdioOfHandle(handle);
    if (!cdio) {
        return std::nullopt;
    }
    CdIo_t* p = cdio.get();
    TCueDisc disc;
    disc.Catalog = TakeCdioString(cdio_get_mcn(p));
    const track_t first = cdio_get_first_track_num(p);
    const track_t count = cdio_get_num_tracks(p);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) {
        CloseCdio(cdio);
        return std::nullopt;
    }
    for (track_t t = first; t < first + count; ++t) {
        if (cdio_get_track_format(p, t) != TRACK_FORMAT_AUDIO) {
            continue;
        }
        TCueTrack track;
        track.Number = t;
        const lsn_t start = cdio_get_track_lsn(p, t);
        const lsn_t pregap = cdio_get_track_pregap_lsn(p, t);
        track.Start = start < 0 ? 0U : static_cast<std::uint32_t>(start);
        if (pregap != CDIO_INVALID_LSN && pregap >= 0 && pregap < start) {
            track.Pregap = static_cast<std::uint32_t>(pregap);
        }
        track.Isrc = TakeCdioString(cdio_get_track_isrc(p, t));
        disc.Tracks.push_back(std::move(track));
    }
    const lsn_t leadOut = cdio_get_track_lsn(p, CDIO_CDROM_LEADOUT_TRACK);
    disc.LeadOut = leadOut < 0 ? 0U : static_cast<std::uint32_t>(leadOut);
    CloseCdio(cdio);
    return disc;
}

std::string SeparateFilesCue(const TCueDisc& disc) {
    std::string cue = DiscLines(disc);
    // The hidden audio's file runs from the disc's first sector to track 1's INDEX 01.
    // It holds track 1's INDEX 00 only beside track 1's own file.
    TCueTrack hidden;
    hidden.File = disc.HiddenFile;
    const bool withHidden = !hidden.File.empty() && !disc.Tracks.empty() &&
                            disc.Tracks.front().Number == 1 && !disc.Tracks.front().File.empty() &&
                            disc.Tracks.front().Pregap == 0U;
    const TCueTrack* previous = withHidden ? &hidden : nullptr;
    if (previous != nullptr) {
        cue += "FILE " + Quoted(hidden.File) + " " + disc.Tracks.front().FileType + "\n";
    }
    for (const TCueTrack& t : disc.Tracks) {
        if (t.File.empty()) {
            previous = nullptr;
            continue;
        }
        const bool pregapInPrevious = t.Pregap && previous != nullptr &&
                                      previous->Number + 1 == t.Number &&
                                      *t.Pregap >= previous->Start;
        if (pregapInPrevious) {
            AddTrackLines(cue, t);
            cue += "    INDEX 00 " + CueMsf(*t.Pregap - previous->Start) + "\n";
            cue += "FILE " + Quoted(t.File) + " " + t.FileType + "\n";
        } else {
            cue += "FILE " + Quoted(t.File) + " " + t.FileType + "\n";
            AddTrackLines(cue, t);
            // The pregap's audio is in no file the rip made: a player plays silence.
            const std::uint32_t gap = t.Pregap ? t.Start - *t.Pregap : 0;
            if (gap > 0) {
                cue += "    PREGAP " + CueMsf(gap) + "\n";
            }
        }
        cue += "    INDEX 01 00:00:00\n";
        previous = &t;
    }
    return cue;
}

} // namespace cd
