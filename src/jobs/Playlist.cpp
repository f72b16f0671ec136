#include "jobs/Playlist.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace jobs {

namespace fs = std::filesystem;

namespace {

// A line break in a title would end the #EXTINF line and make the rest of it a path.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

} // namespace

std::string PlaylistText(const std::string& folder, const std::vector<TPlaylistEntry>& entries) {
    std::string text = "#EXTM3U\n";
    for (const TPlaylistEntry& e : entries) {
        const std::string name = e.Artist.empty() ? e.Title : e.Artist + " - " + e.Title;
        text += "#EXTINF:" + std::to_string(e.Seconds) + "," + OneLine(name) + "\n";
        text += fs::path(e.Path).lexically_relative(folder).generic_string() + "\n";
    }
    return text;
}

std::string CommonFolder(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return {};
    }
    fs::path common = fs::path(paths.front()).parent_path();
    for (const std::string& p : paths) {
        const fs::path folder = fs::path(p).parent_path();
        fs::path shared;
        auto a = common.begin();
        auto b = folder.begin();
        for (; a != common.end() && b != folder.end() && *a == *b; ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    return common.string();
}

std::string WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            const std::string why = path + " could not be written: " + std::strerror(errno);
            std::error_code ec;
            fs::remove(partial, ec);
            return why;
        }
    }
    std::error_code ec;
    fs::rename(partial, path, ec);
    if (ec) {
        fs::remove(partial, ec);
        return path + " could not be written: " + ec.message();
    }
    return {};
}

} // namespace jobs
