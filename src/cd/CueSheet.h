#pragma once
// The cue sheet a rip writes beside its files, and the disc facts it is made from: each
// track's start (INDEX 01) and pregap (INDEX 00), its ISRC and the disc's catalogue number,
// as libcdio reports them for a drive or an image. No Qt; any thread.
//
// Separate track files use the layout where each file runs from its track's INDEX 01 to
// the next track's INDEX 01 (a rip's tracks are read that way): a track's pregap lies at
// the end of the previous file, as that track's INDEX 00 within it. A pregap whose
// previous track was not ripped becomes a PREGAP of silence. The audio before track 1's
// INDEX 01, ripped to a file of its own, holds track 1's INDEX 00.
//
// A single file holds the whole disc's audio from one sector on (the disc's first, unless a
// data track comes first): every index lies in it at its place on the disc.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cd/akrip32.h"

namespace cd {

struct TCueTrack {
    int Number = 0;
    std::uint32_t Start = 0;             // LSN of INDEX 01
    std::optional<std::uint32_t> Pregap; // LSN of INDEX 00, when the track has one
    std::string Isrc;
    std::string Title;
    std::string Performer;
    std::string File;              // the track's file, as the sheet names it
    std::string FileType = "WAVE"; // "WAVE" or "MP3"
};

struct TCueDisc {
    std::string Catalog; // the 13-digit media catalogue number, when known
    std::string Title;
    std::string Performer;
    std::vector<TCueTrack> Tracks; // in disc order
    std::uint32_t LeadOut = 0;     // LSN
    // The file of the audio before track 1's INDEX 01, when a rip made one.
    std::string HiddenFile;
};

// The audio tracks of the disc behind an open handle; nothing when libcdio cannot open it.
std::optional<TCueDisc> ReadCueDisc(HCDROM handle);

// A sheet for the tracks of `disc` that have a File, each in its own file.
std::string SeparateFilesCue(const TCueDisc& disc);

// A sheet for one file of type `fileType` that starts at sector `fileStart` and holds every
// audio track of `disc`; a pregap before the file's start becomes a PREGAP of silence.
std::string SingleFileCue(const TCueDisc& disc, const std::string& file,
                          const std::string& fileType, std::uint32_t fileStart);

// "mm:ss:ff" of a length in frames (75 a second).
std::string CueMsf(std::uint32_t frames);

} // namespace cd
