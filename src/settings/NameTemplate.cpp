#include "settings/NameTemplate.h"

#include <vector>

#include "settings/FileNames.h"

namespace settings {

namespace {

std::string TwoDigitTrack(int track) {
    const std::string digits = std::to_string(track < 0 ? 0 : track);
    return digits.size() < 2 ? "0" + digits : digits;
}

// The value of field `key`, or nothing when `key` names no field.
const std::string* FieldValue(char key, const TNameFields& f, const std::string& track) {
    switch (key) {
    case 'n':
        return &track;
    case 't':
        return &f.Title;
    case 'a':
        return &f.Artist;
    case 'A':
        return &f.AlbumArtist;
    case 'l':
        return &f.Album;
    case 'y':
        return &f.Year;
    case 'g':
        return &f.Genre;
    case 'd':
        return &f.Disc;
    default:
        return nullptr;
    }
}

// What an empty field leaves behind: "()" or "[]" around nothing, a doubled blank, a
// separator at either end ("Album ()" becomes "Album", "01 - " becomes "01").
std::string Tidy(std::string text) {
    for (const std::string_view pair : {"()", "[]"}) {
        for (std::size_t at = text.find(pair); at != std::string::npos; at = text.find(pair)) {
            text.erase(at, pair.size());
        }
    }
    for (std::size_t at = text.find("  "); at != std::string::npos; at = text.find("  ")) {
        text.erase(at, 1);
    }
    const std::size_t first = text.find_first_not_of(" -");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" -");
    return text.substr(first, last - first + 1);
}

std::string ExpandPart(std::string_view part, const TNameFields& fields) {
    const std::string track = TwoDigitTrack(fields.Track);
    bool emptyField = false;
    std::string out;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] != '%' || i + 1 == part.size()) {
            out.push_back(part[i]);
            continue;
        }
        const char key = part[i + 1];
        if (key == '%') {
            out.push_back('%');
            ++i;
        } else if (const std::string* value = FieldValue(key, fields, track)) {
            out += *value;
            emptyField = emptyField || value->empty();
            ++i;
        } else {
            out.push_back('%');
        }
    }
    return emptyField ? Tidy(std::move(out)) : out;
}

std::vector<std::string_view> SplitAtSlashes(std::string_view pattern) {
    std::vector<std::string_view> parts;
    std::size_t begin = 0;
    for (std::size_t slash = pattern.find('/'); slash != std::string_view::npos;
         slash = pattern.find('/', begin)) {
        parts.push_back(pattern.substr(begin, slash - begin));
        begin = slash + 1;
    }
    parts.push_back(pattern.substr(begin));
    return parts;
}

} // namespace

TItemName ExpandNameTemplate(std::string_view pattern, const TNameFields& fields) {
    const std::vector<std::string_view> parts = SplitAtSlashes(pattern);
    TItemName name;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string folder = FileNameFromTitle(ExpandPart(parts[i], fields));
        if (!folder.empty()) {
            name.Folders += folder + "/";
        }
    }
    name.Stem = FileNameFromTitle(ExpandPart(parts.back(), fields));
    if (name.Stem.empty()) {
        name.Stem = FileNameFromTitle(fields.Title);
    }
    return name;
}

std::string SingleFileTemplate(std::string_view pattern, const TNameFields& fields) {
    const std::size_t slash = pattern.rfind('/');
    const std::size_t nameAt = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view name = pattern.substr(nameAt);
    if (name.find("%t") == std::string_view::npos && name.find("%n") == std::string_view::npos) {
        return std::string(pattern);
    }
    const char* album = fields.AlbumArtist.empty() ? "%l" : "%A - %l";
    return std::string(pattern.substr(0, nameAt)) + (fields.Album.empty() ? "%t" : album);
}

} // namespace settings
