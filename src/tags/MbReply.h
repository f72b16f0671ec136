#pragma once
// What a MusicBrainz disc id lookup answers, reduced to what a disc record needs: the
// releases that hold the disc (each with the medium that matches it), or a CD stub.
// Also the same shape for the disc's own CD-Text, so the chooser lists every source alike.
//
// Parsing never trusts the reply: a field of the wrong type counts as missing, and a
// reply that is not a JSON object (a web page, cut or binary text) is no reply at all.
// Any thread.
#include "cd/CdText.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tags {

struct MbTrack {
    std::string title;
    std::string artist; // the track's credited artist
    std::string recordingId;
};

struct MbRelease {
    enum class Source { MusicBrainz, CdStub, CdText };
    Source source = Source::MusicBrainz;
    std::string id; // the release id (MusicBrainz only)
    std::string title;
    std::string artist;
    std::string date; // "YYYY", "YYYY-MM" or "YYYY-MM-DD"
    std::string country;
    std::string label;
    std::string barcode;
    int discNumber = 0; // the medium's position; 0 when unknown
    int discCount = 0;  // media of the release
    std::vector<MbTrack> tracks;

    std::string Year() const;       // the date's year, or ""
    std::string DiscText() const;   // "2/3", "1" for a single medium, "" when unknown
    std::string SourceText() const; // "MusicBrainz", "CD stub", "CD-Text"
};

// The releases of a reply for a disc with this id and number of tracks; an empty list
// when the service knows none; nothing when the text is not a reply.
std::optional<std::vector<MbRelease>> ParseMbDiscReply(std::string_view json,
                                                       const std::string& discId, int trackCount);
// The disc's CD-Text as a release-shaped entry.
MbRelease ReleaseOfCdText(const cd::CdTextInfo& text);

} // namespace tags
