#pragma once
// The file name an output file gets from a track title. Titles come from the user and from
// disc lookups and may hold anything ("AC/DC", "Remix / Edit", a tab); the title itself is
// kept as it is for the list, the tags and cdinfo.dat, and only the file name is made safe
// here. No Qt; any thread.
#include <cstddef>
#include <string>
#include <string_view>

namespace settings {

// Longest name FileNameFromTitle returns, in bytes: a file name may hold 255 bytes, and the
// rest is room for an extension (".wav", ".opus") and a temporary-name decoration.
constexpr std::size_t kMaxFileNameBytes = 200;

// The name (without extension) for a file made from `title`:
// - "/" becomes "-" (it would name a folder);
// - control characters (bytes 0x00-0x1F and 0x7F: NUL, tab, line breaks) become a blank;
// - a name that would be "." or ".." gets "_" for each dot;
// - a name longer than kMaxFileNameBytes is cut there, at a whole UTF-8 character.
// Every other character stays, so titles that were valid names keep them exactly.
// The result is always one plain name inside the folder it is joined to, never a path.
// Empty only when the title is empty: the caller cannot name the file then.
std::string FileNameFromTitle(std::string_view title);

} // namespace settings
