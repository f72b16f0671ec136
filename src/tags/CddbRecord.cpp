#include "tags/CddbRecord.h"

#include "tags/Genres.h"

#include <algorithm>
#include <map>

namespace tags {

namespace {

constexpr int MaxTracks = 99;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The key=value lines of a record, each key's pieces joined in order.
std::map<std::string, std::string, std::less<>> KeyValues(std::string_view text) {
    std::map<std::string, std::string, std::less<>> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        const std::string_view trimmed = Trim(line);
        const auto equals = trimmed.find('=');
        if (trimmed.empty() || trimmed.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(trimmed.substr(0, equals));
        // The value keeps its blanks until all its pieces are joined; only the line's
        // own trailing blanks (before the line break) are part of it too.
        const std::string_view value = line.substr(line.find('=') + 1);
        values[std::string(key)] += value;
    }
    return values;
}

// "TTITLE<n>" with n a plain decimal number below 99; -1 otherwise.
int TitleIndex(std::string_view key) {
    constexpr std::string_view prefix = "TTITLE";
    if (key.size() <= prefix.size() || key.size() > prefix.size() + 2 ||
        key.substr(0, prefix.size()) != prefix) {
        return -1;
    }
    int n = 0;
    for (const char c : key.substr(prefix.size())) {
        if (c < '0' || c > '9') {
            return -1;
        }
        n = n * 10 + (c - '0');
    }
    return n < MaxTracks ? n : -1;
}

int GenrePosition(std::string_view name) {
    const auto it = std::find_if(GenreList.begin() + 1, GenreList.end(),
                                 [&](const char* g) { return name == g; });
    return it == GenreList.end() ? -1 : static_cast<int>(it - GenreList.begin());
}

void SplitDiscTitle(std::string_view value, TCddbRecord& record) {
    // The format separates the two by " / "; a bare "/" is taken when there is no such
    // separator, so that names like "AC/DC" survive when the separator is present.
    auto slash = value.find(" / ");
    std::size_t skip = 3;
    if (slash == std::string_view::npos) {
        slash = value.find('/');
        skip = 1;
    }
    if (slash == std::string_view::npos) {
        record.artist = std::string(value);
        record.album = std::string(value);
        return;
    }
    record.artist = std::string(Trim(value.substr(0, slash)));
    record.album = std::string(Trim(value.substr(slash + skip)));
}

} // namespace

void TCddbRecord::Apply(const TCddbRecord& later) {
    if (later.artist) {
        artist = later.artist;
        album = later.album;
    }
    if (later.year) {
        year = later.year;
    }
    if (later.genre) {
        genre = later.genre;
    }
    if (later.HasTitles()) {
        titles = later.titles;
    }
}

TCddbRecord ParseCddbRecord(std::string_view text, int trackCount) {
    TCddbRecord record;
    const int tracks = std::clamp(trackCount, 0, MaxTracks);
    std::vector<std::optional<std::string>> titles(static_cast<std::size_t>(tracks));
    bool firstTitle = false;
    for (const auto& [key, raw] : KeyValues(text)) {
        const std::string_view value = Trim(raw);
        if (key == "DTITLE") {
            SplitDiscTitle(value, record);
        } else if (key == "DYEAR") {
            record.year = std::string(value);
        } else if (key == "DGENRE") {
            record.genre = GenrePosition(value);
        } else if (const int n = TitleIndex(key); n >= 0 && n < tracks) {
            titles[static_cast<std::size_t>(n)] = std::string(value);
            firstTitle = firstTitle || n == 0;
        }
    }
    if (firstTitle) {
        record.titles = std::move(titles);
    }
    return record;
}

} // namespace tags
