#pragma once
// The full-length tags of a finished file, written through TagLib: an ID3 version 2.4 tag
// (UTF-8) at the front of an MP3, Vorbis comments in Ogg Vorbis, Ogg Opus and FLAC files,
// each with the disc's front cover.
//
// An MP3's ID3 version 1 tag at its end is the business of Tid3tag and is never read,
// changed or moved here. Plain C++ (TagLib is no Qt); any thread, one file at a time. The
// file is changed in place, so callers write into a file that is not yet under its final
// name.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tags {

// An image as it goes into a tag: its bytes as they would be in a file of their own.
struct TCoverArt {
    std::string Bytes;
    std::string Mime; // "image/jpeg" or "image/png"
    int Width = 0;
    int Height = 0;
    int ColorDepth = 24; // bits per pixel
};

// What one file's tag says. Text is UTF-8; an empty text or a 0 number is left out.
struct TTagSet {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string AlbumArtist;
    std::string Year;
    std::string Genre; // the genre's name
    std::string Comment;
    int Track = 0;
    int TrackTotal = 0;
    int Disc = 0;
    int DiscTotal = 0;
    std::string MbReleaseId;
    std::string MbRecordingId;
    std::shared_ptr<const TCoverArt> Cover; // the front cover; none when null or empty
    // Written as they are: a user text frame (TXXX) in ID3, a field in Vorbis comments.
    std::vector<std::pair<std::string, std::string>> Extra;
};

// Which tag a file gets, from its final name's extension (with its dot, any case).
enum class TTagContainer { tcNone, tcId3v2, tcOggVorbis, tcOggOpus, tcFlac };
TTagContainer ContainerOfExtension(std::string_view extension);

// "n" or "n/total" as the tags count them; "" for n = 0.
std::string CountText(int n, int total);

// Replaces the tag of the file at path (its extension may differ from its kind: a file is
// tagged before it gets its final name) with the set. Returns "" on success, else why it
// failed ("the file is read-only", "not an Ogg Vorbis file", ...); a file that could not
// be tagged may be left half-written and should be thrown away.
std::string WriteTagSet(const std::string& path, std::string_view extension, const TTagSet& set);

// Sets the named fields in the file's existing tag (a user text frame in ID3v2, a field in
// Vorbis comments), replacing fields of the same names and keeping everything else. The
// file is changed in place: callers work on a copy when the original must survive a failure.
std::string SetTagFields(const std::string& path, std::string_view extension,
                         const std::vector<std::pair<std::string, std::string>>& fields);

} // namespace tags
