#pragma once
// The 128-byte ID3 version 1 tag (and its version 1.1 track-number variant) at the
// very end of an MP3 file: read, write, remove.
//
// The tag's bytes are ISO-8859-1. In memory the text fields hold UTF-8 for the rest of
// the program; the setters convert to ISO-8859-1 ("?" for any character outside it) and
// keep the field within its width on disk, measured in ISO-8859-1 bytes (Title, Artist,
// Album, Comment 30, Year 4). Fields assigned directly are converted and cut the same
// way when the tag is written.
//
// Operations return a 16-bit status word instead of throwing: below 256 is success;
// the high byte names the failure and the low byte carries flags. The numbers are shown
// to users ("Error #1024! ..."), so they must not change. Each call opens and closes its
// own file; objects share nothing.
#include <cstdint>
#include <string>
#include <string_view>

namespace tags {

constexpr std::uint16_t ID3_DONE = 0x0000;
constexpr std::uint16_t ID3_UNKNOWN_GENRE = 0x0080; // flag: tag read, genre byte 148..254
constexpr std::uint16_t ID3_OPEN_FAILED = 0x0100;   // missing, unopenable or not a file
constexpr std::uint16_t ID3_PROTECTED = 0x0200;     // read-only or hidden (WriteTag)
constexpr std::uint16_t ID3_READ_FAILED = 0x0300;   // a read fell short or failed
constexpr std::uint16_t ID3_WRITE_FAILED = 0x0400;  // a write failed (WriteTag)
constexpr std::uint16_t ID3_IO_FAILED = 0x0500;     // any other input/output failure
constexpr std::uint16_t ID3_NO_TAG = 0x1000;        // shorter than 128 bytes or no "TAG"

constexpr bool Id3Succeeded(std::uint16_t status) {
    return status < 0x0100;
}

constexpr std::size_t ID3_TAG_SIZE = 128;
constexpr std::size_t ID3_TEXT_WIDTH = 30;
constexpr std::size_t ID3_YEAR_WIDTH = 4;
constexpr std::size_t ID3_COMMENT_WIDTH_WITH_TRACK = 28;

// ISO-8859-1 bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);
// UTF-8 to ISO-8859-1; a character above U+00FF and each malformed byte become "?".
std::string Utf8ToLatin1(std::string_view utf8);

// True when the file counts as read-only for the tag: its mode has no owner write bit,
// or its name starts with "." (hidden).
bool IsProtectedFile(const std::string& path);

class Tid3tag {
public:
    bool HasTrack = false; // the tag carries a track number (version 1.1 layout)
    bool ReadOnly = false; // set by ReadTag: the file is read-only or hidden
    std::string FileName;  // the file last read (once opened) or last written
    std::string Title;     // UTF-8, at most 30 ISO-8859-1 bytes
    std::string Artist;
    std::string Album;
    std::string Year; // free text, at most 4 bytes
    std::string Comment;
    std::uint8_t Genre = 255; // ID3v1 genre code; 255 = none. Set with GenreIndexToCode.
    std::uint8_t Track = 0;   // 0 = none

    // Reads the tag at the end of path. On any failure the fields keep their values.
    std::uint16_t ReadTag(const std::string& path);
    // Writes the fields as a tag into path ("=" means FileName), replacing an existing
    // tag or appending one. Never creates a file.
    std::uint16_t WriteTag(const std::string& path);
    // Cuts the tag off FileName when it has one; failures are silent.
    void RemoveTag();

    void SetTitle(std::string_view text);
    void SetArtist(std::string_view text);
    void SetAlbum(std::string_view text);
    void SetYear(std::string_view text);
    void SetComment(std::string_view text);
    void SetTrack(std::uint8_t n);
};

} // namespace tags
