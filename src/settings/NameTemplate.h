#pragma once
// Where a ripped track's file goes, from a naming template such as "%a/%l/%n - %t": the
// folders under the output folder and the file's name, each made safe with the same table
// as a title (FileNames.h). No Qt; any thread.
#include <string>
#include <string_view>

namespace settings {

// The template that names each file after its title alone, in the output folder.
inline constexpr const char* kDefaultNameTemplate = "%t";

// The values a template can use for one track.
struct TNameFields {
    int Track = 0;
    std::string Title;
    std::string Artist;      // the track's artist when it has one, else the disc's
    std::string AlbumArtist; // the disc's album artist, else its artist
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Disc;
};

struct TItemName {
    std::string Folders; // "" or "Artist/Album/": safe names, each ending in "/"
    std::string Stem;    // the file's name without its extension, safe
};

// Expands %n (two-digit track), %t, %a, %A, %l, %y, %g, %d and %% in `pattern`; any other
// "%x" stays as it is. "/" separates folders: each part is expanded and then made a safe
// name on its own, so a "/" inside a value never makes a folder, a part that expands to
// nothing is left out (no empty folder names), and "." or ".." or a leading "/" can never
// lead outside the output folder. When the last part expands to nothing the title names
// the file.
TItemName ExpandNameTemplate(std::string_view pattern, const TNameFields& fields);

// The template of a single-file rip (the whole disc in one file) from the tracks' template:
// its folders stay, and a file name holding %t or %n (a track's title or number) becomes
// "%A - %l" ("%l" without an album artist, "%t" without an album: the title then stands in).
std::string SingleFileTemplate(std::string_view pattern, const TNameFields& fields);

} // namespace settings
