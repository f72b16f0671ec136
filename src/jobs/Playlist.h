#pragma once
// The M3U8 playlist a rip writes beside its files: UTF-8, "#EXTM3U", then per file an
// "#EXTINF:<seconds>,<artist> - <title>" line and the file's path relative to the
// playlist's folder. No Qt; any thread.
#include <string>
#include <vector>

namespace jobs {

struct TPlaylistEntry {
    std::string Path; // absolute, or relative to the current folder like the playlist's
    int Seconds = 0;
    std::string Artist;
    std::string Title;
};

// The playlist's text for a playlist file in `folder`, entries in the order given.
std::string PlaylistText(const std::string& folder, const std::vector<TPlaylistEntry>& entries);

// The deepest folder that holds every path (each path's own folder when there is one).
std::string CommonFolder(const std::vector<std::string>& paths);

// Writes text to path under a temporary name in its folder, then renames it, so the path
// never holds half a file; "" when done, else why not.
std::string WriteWholeFile(const std::string& path, const std::string& text);

} // namespace jobs
