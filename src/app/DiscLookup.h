#pragma once
// The lookups the main window runs for a disc: "Query MusicBrainz..." from the Edit menu,
// and the automatic lookup when a disc opens that the disc record does not know yet.
//
// The automatic lookup runs when CDOptions/CDDb is on, or when Metadata/Order names
// musicbrainz while Metadata/MusicBrainz is on (so the default settings run none). It
// tries the sources of Metadata/Order in turn until one fills the disc: musicbrainz (the
// MusicBrainz window; a window of its own that closes quietly when nothing is found),
// cddb (the CDDB lookup window) and cdtext (the disc's own CD-Text).
//
// GUI thread only; every window is modal over `owner` and goes through the Dialogs
// stand-in.
#include <cstdint>
#include <string>
#include <vector>

class QTreeWidget;
class QWidget;

namespace app {

class TDiscLookup {
public:
    // Whether the settings ask for an automatic lookup of a disc the record does not know.
    static bool AutomaticWanted();
    // Whether the disc record has values of a lookup or of the user already.
    static bool DiscKnown();
    // Runs the automatic lookup of the disc behind `cdHandle`; whether a source filled it.
    static bool RunAutomatic(QWidget* owner, int cdHandle, QTreeWidget* trackList);
    // The Edit menu's command; false (and an error box) when the TOC cannot be read.
    static bool QueryMusicBrainz(QWidget* owner, int cdHandle, QTreeWidget* trackList);

private:
    static bool TrackRange(int cdHandle, std::uint8_t& first, std::uint8_t& last);
    static bool RunSource(const std::string& source, QWidget* owner, int cdHandle,
                          QTreeWidget* trackList, std::uint8_t first, std::uint8_t last);
};

} // namespace app
