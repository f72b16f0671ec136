#include "TagTestFiles.h"

#include <sstream>

namespace tagtests {

Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre) {
    Bytes tag(128, 0x00);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    auto put = [&tag](std::size_t at, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            tag[at + i] = std::uint8_t(text[i]);
        }
    };
    put(3, title);
    put(33, artist);
    put(63, album);
    put(93, year);
    for (std::size_t i = 0; i < comment30.size() && i < 30; ++i) {
        tag[97 + i] = comment30[i];
    }
    tag[127] = genre;
    return tag;
}

namespace {
std::string RightTrimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

} // namespace

// The fields as "id3v2 -l" lists a version 1 tag: each text printed in a 30-column
// field after its label, year, genre and track after theirs.
std::map<std::string, std::string> ListedByTool(const std::string& path) {
    const auto result = RunCommand("id3v2 -l '" + path + "'");
    std::map<std::string, std::string> fields;
    std::istringstream lines(result.Output);
    std::string line;
    auto fixed = [](const std::string& from, std::size_t at) {
        return RightTrimmed(from.substr(at, std::min<std::size_t>(30, from.size() - at)));
    };
    while (std::getline(lines, line)) {
        if (line.rfind("Title  : ", 0) == 0) {
            fields["title"] = fixed(line, 9);
            fields["artist"] = RightTrimmed(line.substr(line.find("Artist: ") + 8));
        } else if (line.rfind("Album  : ", 0) == 0) {
            fields["album"] = fixed(line, 9);
            const auto year = line.find("Year: ") + 6;
            fields["year"] = line.substr(year, line.find(',', year) - year);
            fields["genre"] = RightTrimmed(line.substr(line.find("Genre: ") + 7));
        } else if (line.rfind("Comment: ", 0) == 0) {
            fields["comment"] = fixed(line, 9);
            const auto track = line.find("Track: ");
            fields["track"] =
                track == std::string::npos ? "" : RightTrimmed(line.substr(track + 7));
        }
    }
    return fields;
}

std::string MakeMp3(const ScratchFolder& folder, const std::string& name, double seconds) {
    const std::string raw = folder.File(name + ".raw");
    const std::string mp3 = folder.File(name);
    const auto bytes = static_cast<long>(seconds * 44100) * 4;
    const auto result = RunCommand("head -c " + std::to_string(bytes) + " /dev/urandom > " +
                                   Quoted(raw) + " && lame -r -s 44.1 --bitwidth 16 --quiet " +
                                   Quoted(raw) + " " + Quoted(mp3) + " && rm " + Quoted(raw));
    return result.ExitCode == 0 ? mp3 : std::string();
}

Bytes AudioPart(const Bytes& file) {
    const bool tagged = file.size() >= 128 && file[file.size() - 128] == 'T' &&
                        file[file.size() - 127] == 'A' && file[file.size() - 126] == 'G';
    return Bytes(file.begin(), file.end() - (tagged ? 128 : 0));
}

std::string MakeAudio(const ScratchFolder& folder, const std::string& name) {
    const std::string wav = folder.File(name + ".wav");
    const std::string out = folder.File(name);
    const std::string extension = out.substr(out.rfind('.'));
    std::string encode;
    if (extension == ".mp3") {
        encode = "lame --quiet " + Quoted(wav) + " " + Quoted(out);
    } else if (extension == ".ogg") {
        encode = "oggenc --quiet -o " + Quoted(out) + " " + Quoted(wav);
    } else if (extension == ".opus") {
        encode = "opusenc --quiet " + Quoted(wav) + " " + Quoted(out);
    } else if (extension == ".flac") {
        encode = "flac --silent -o " + Quoted(out) + " " + Quoted(wav);
    } else {
        return {};
    }
    const auto result = RunCommand("sox -n -r 44100 -c 2 -b 16 " + Quoted(wav) +
                                   " synth 1 sine 440 && " + encode + " && rm " + Quoted(wav));
    return result.ExitCode == 0 ? out : std::string();
}

TagFields ReadTagFields(const std::string& path, const std::string& kind) {
    const auto result =
        RunCommand("/usr/bin/python3 " VELLORINE_SOURCE_DIR "/tests/tags/read_tags.py " +
                   Quoted(path) + " " + kind);
    TagFields fields;
    if (result.ExitCode != 0) {
        fields.emplace_back("ERROR", result.Output);
        return fields;
    }
    std::istringstream lines(result.Output);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return fields;
}

} // namespace tagtests
