#include "cd/WaveCueImage.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"
#include "bytes/WavHeader.h"

namespace cd {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSectorBytes = 2352;

struct CueFileLine {
    std::string name; // as the sheet names it
    std::string type; // upper case: BINARY, WAVE, MP3, FLAC, ...
};

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// A FILE line's name and type; nothing for other lines.
std::optional<CueFileLine> ParseFileLine(const std::string& line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 5, "FILE ") != 0) {
        return std::nullopt;
    }
    std::string rest = line.substr(start + 5);
    CueFileLine f;
    std::size_t after = 0;
    if (!rest.empty() && rest.front() == '"') {
        const std::size_t close = rest.find('"', 1);
        if (close == std::string::npos) {
            return std::nullopt;
        }
        f.name = rest.substr(1, close - 1);
        after = close + 1;
    } else {
        after = rest.find(' ');
        f.name = rest.substr(0, after);
    }
    std::istringstream type(after == std::string::npos ? std::string() : rest.substr(after));
    type >> f.type;
    f.type = Upper(f.type);
    return f;
}

// Where a WAV file's audio lies: its "data" chunk, when its format is CD audio.
struct WaveData {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
};

std::optional<WaveData> FindCdAudio(std::ifstream& in, std::uint64_t fileSize, std::string& why) {
    std::array<std::uint8_t, 12> riff{};
    if (!in.read(reinterpret_cast<char*>(riff.data()), riff.size()) ||
        !bytes::IdIs(riff.data(), "RIFF") || !bytes::IdIs(riff.data() + 8, "WAVE")) {
        why = "is not a WAV file";
        return std::nullopt;
    }
    bool cdAudio = false;
    for (std::uint64_t at = riff.size(); at + bytes::kChunkHeaderBytes <= fileSize;) {
        std::array<std::uint8_t, bytes::kChunkHeaderBytes + bytes::kWaveFormatRecordBytes> head{};
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(head.data()), bytes::kChunkHeaderBytes)) {
            break;
        }
        const bytes::ChunkHeader chunk = bytes::ParseChunkHeader(head.data());
        if (chunk.Is("fmt ") && chunk.size >= bytes::kWaveFormatRecordBytes &&
            in.read(reinterpret_cast<char*>(head.data() + bytes::kChunkHeaderBytes),
                    bytes::kWaveFormatRecordBytes)) {
            const bytes::WaveFormatRecord format =
                bytes::ParseWaveFormatRecord(head.data() + bytes::kChunkHeaderBytes);
            cdAudio = format == bytes::WaveFormatRecord::Pcm(2, 44100, 16);
        } else if (chunk.Is("data")) {
            if (!cdAudio) {
                why = "is not 16-bit stereo 44 100 Hz PCM (CD audio)";
                return std::nullopt;
            }
            const std::uint64_t start = at + bytes::kChunkHeaderBytes;
            // A header written before the end of the audio was known may hold size 0 or less.
            return WaveData{start, std::min<std::uint64_t>(chunk.size, fileSize - start)};
        }
        at = bytes::NextChunkOffset(at, chunk.size);
    }
    why = "holds no audio";
    return std::nullopt;
}

// Copies the audio to `twin`, padded with silence to whole sectors.
bool CopyAudio(std::ifstream& in, const WaveData& data, const fs::path& twin) {
    std::ofstream out(twin, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(std::size_t{1} << 20);
    in.clear();
    in.seekg(static_cast<std::streamoff>(data.offset));
    for (std::uint64_t left = data.bytes; left > 0;) {
        const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
        if (!in.read(buffer.data(), n) || !out.write(buffer.data(), n)) {
            return false;
        }
        left -= static_cast<std::uint64_t>(n);
    }
    const std::uint64_t pad = (kSectorBytes - data.bytes % kSectorBytes) % kSectorBytes;
    const std::vector<char> zeros(pad, 0);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    return static_cast<bool>(out.flush());
}

// The process's folder of twins, removed with the process.
class TwinFolder {
public:
    const fs::path& Path() {
        if (path_.empty()) {
            path_ = fs::temp_directory_path() / ("vellorine-images-" + std::to_string(getpid()));
            std::error_code ec;
            fs::create_directories(path_, ec);
        }
        return path_;
    }
    ~TwinFolder() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }

private:
    fs::path path_;
};

struct Twin {
    std::string cue;
    std::string stamp; // sizes and times of the sheet and its files when the twin was made
};

// The reason for a refused image is looked for outside the library lock: the twins have a
// lock of their own.
std::mutex twinMutex;
TwinFolder twinFolder;
std::map<std::string, Twin> twins; // by the sheet's absolute path
int twinCount = 0;

std::string StampOf(const std::vector<fs::path>& files) {
    std::string stamp;
    for (const fs::path& f : files) {
        std::error_code ec;
        stamp += f.string() + ":" + std::to_string(fs::file_size(f, ec)) + ":" +
                 std::to_string(fs::last_write_time(f, ec).time_since_epoch().count()) + ";";
    }
    return stamp;
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

} // namespace

bool CueNeedsTwin(const std::string& cuePath) {
    std::ifstream in(cuePath);
    for (std::string line; std::getline(in, line);) {
        const std::optional<CueFileLine> f = ParseFileLine(line);
        if (f && f->type != "BINARY" && f->type != "MOTOROLA") {
            return true;
        }
    }
    return false;
}

std::string WaveCueTwin(const std::string& cuePath, std::string& error) {
    std::lock_guard lock(twinMutex);
    std::error_code ec;
    const fs::path sheet = fs::absolute(cuePath, ec);
    std::vector<std::string> lines;
    std::vector<fs::path> files{sheet};
    {
        std::ifstream in(sheet);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (const std::optional<CueFileLine> f = ParseFileLine(line)) {
                files.push_back(sheet.parent_path() / f->name);
            }
            lines.push_back(line);
        }
    }
    const std::string stamp = StampOf(files);
    if (const auto known = twins.find(sheet.string()); known != twins.end()) {
        if (known->second.stamp == stamp) {
            return known->second.cue;
        }
        // The sheet or its file changed: the old twin is of no use any more.
        fs::remove(known->second.cue, ec);
        fs::remove(fs::path(known->second.cue).replace_extension(".bin"), ec);
        twins.erase(known);
    }
    // libcdio reads the data of a sheet from the file with the sheet's own stem.
    if (files.size() != 2) {
        error = "a disc image is one data file, and it names " + std::to_string(files.size() - 1);
        return {};
    }
    const fs::path folder = twinFolder.Path();
    const std::string base = std::to_string(++twinCount);
    std::string cue;
    for (const std::string& line : lines) {
        const std::optional<CueFileLine> f = ParseFileLine(line);
        if (!f) {
            cue += line + "\n";
            continue;
        }
        const fs::path data = sheet.parent_path() / f->name;
        if (f->type == "BINARY" || f->type == "MOTOROLA") {
            cue += "FILE " + Quoted(data.string()) + " " + f->type + "\n";
            continue;
        }
        if (f->type != "WAVE") {
            error = "its " + f->type + " file \"" + f->name +
                    "\" cannot be read as a disc (only WAVE and BINARY files can)";
            return {};
        }
        std::ifstream in(data, std::ios::binary);
        const std::uint64_t size = fs::file_size(data, ec);
        std::string why = "is missing";
        const std::optional<WaveData> audio =
            in && !ec ? FindCdAudio(in, size, why) : std::optional<WaveData>();
        const fs::path twin = folder / (base + ".bin");
        if (!audio || !CopyAudio(in, *audio, twin)) {
            error = "its WAVE file \"" + f->name + "\" " + (audio ? "could not be copied" : why);
            return {};
        }
        cue += "FILE " + Quoted(twin.string()) + " BINARY\n";
    }
    const fs::path twinCue = folder / (base + ".cue");
    std::ofstream out(twinCue, std::ios::trunc);
    if (!(out << cue) || !out.flush()) {
        error = "no copy of it could be written in " + folder.string();
        return {};
    }
    twins[sheet.string()] = Twin{twinCue.string(), stamp};
    return twinCue.string();
}

} // namespace cd
