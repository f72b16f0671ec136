#pragma once
// What a CDDB (xmcd) disc record says about a disc: artist and album from DTITLE, year,
// genre and the track titles TTITLE0, TTITLE1, ... (0 is the disc's first track).
//
// Plain C++ without Qt, safe on any thread. The text is taken as UTF-8 lines separated
// by CR, LF or CR LF; comment lines ("#") and lines without "=" are skipped. Lines that
// repeat a key continue its value (the format splits long values that way): the pieces
// are joined as they are and the whole value is trimmed of blanks afterwards.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tags {

struct TCddbRecord {
    // DTITLE "artist / album"; without a slash the whole value is both.
    std::optional<std::string> artist;
    std::optional<std::string> album;
    std::optional<std::string> year; // DYEAR
    // DGENRE as a position of the genre list (1..148), or -1 when the text is not one
    // of the 148 names exactly (case counts).
    std::optional<int> genre;
    // One entry per track from the first to the last, filled only when the record has a
    // title line for the first track; an entry is empty (nullopt) when its line is missing.
    std::vector<std::optional<std::string>> titles;

    bool HasTitles() const { return !titles.empty(); }
    // Takes over what a later record says: its disc values replace these where it has
    // them, and its titles replace these when it has titles.
    void Apply(const TCddbRecord& later);
};

// Reads a record for a disc of trackCount tracks (at most 99 are looked at).
TCddbRecord ParseCddbRecord(std::string_view text, int trackCount);

} // namespace tags
