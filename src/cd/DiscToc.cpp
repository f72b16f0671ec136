#include "cd/DiscToc.h"

#include "audio/ACS_Wave.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cd {

namespace {

constexpr std::int64_t LeadIn = 150;
constexpr std::uint8_t DataTrackBit = 0x04;

std::int64_t FrameOf(const TTOCEntry& e) {
    return e.addr[1] * 4500LL + e.addr[2] * 75LL + e.addr[3];
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

template <class T> bool ParseNumber(std::string_view text, T& value, int base = 10) {
    text = Trimmed(text);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return !text.empty() && ec == std::errc{} && ptr == text.data() + text.size();
}

// One "  n  mm:ss.ff  mm:ss.ff  start  end[  (data)]" line of a log's table of contents.
std::optional<RipLogTocEntry> TocLine(std::string_view line) {
    std::istringstream words{std::string(line)};
    std::string number, startMsf, lengthMsf, start, end, data;
    if (!(words >> number >> startMsf >> lengthMsf >> start >> end)) {
        return std::nullopt;
    }
    words >> data;
    RipLogTocEntry e;
    std::uint32_t last = 0;
    if (!ParseNumber(number, e.number) || !ParseNumber(start, e.start) || !ParseNumber(end, last) ||
        last + 1 < e.start) {
        return std::nullopt;
    }
    // A track of no frames shows its start as its end.
    e.frames = last + 1 - e.start;
    e.data = data == "(data)";
    return e;
}

// mm:ss:ff as frames.
std::optional<std::uint32_t> CueTime(std::string_view text) {
    std::uint32_t m = 0, s = 0, f = 0;
    const auto c1 = text.find(':');
    const auto c2 = text.find(':', c1 == std::string_view::npos ? c1 : c1 + 1);
    if (c1 == std::string_view::npos || c2 == std::string_view::npos ||
        !ParseNumber(text.substr(0, c1), m) || !ParseNumber(text.substr(c1 + 1, c2 - c1 - 1), s) ||
        !ParseNumber(text.substr(c2 + 1), f) || s >= 60 || f >= 75) {
        return std::nullopt;
    }
    return (m * 60 + s) * 75 + f;
}

// The quoted or bare file name after FILE, and the type word after it.
bool CueFile(std::string_view rest, std::string& name, std::string& type) {
    rest = Trimmed(rest);
    std::size_t end = 0;
    if (!rest.empty() && rest.front() == '"') {
        end = rest.find('"', 1);
        if (end == std::string_view::npos) {
            return false;
        }
        name = std::string(rest.substr(1, end - 1));
        ++end;
    } else {
        end = rest.find(' ');
        name = std::string(rest.substr(0, end));
    }
    type = end < rest.size() ? std::string(Trimmed(rest.substr(end))) : "";
    return !name.empty();
}

// A cue sheet's file in whole sectors: raw sectors, or a WAV file's audio.
std::optional<std::uint32_t> CueFileFrames(const std::string& path, const std::string& type) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    if (type == "WAVE") {
        const audio::TWaveHeader h = audio::ScanWaveHeader(in, false);
        if (h.Type != audio::wtPCM) {
            return std::nullopt;
        }
        return h.DataSize / CDFrameBytes;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? std::nullopt : std::optional(static_cast<std::uint32_t>(size / CDFrameBytes));
}

std::string Upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return u;
}

} // namespace

std::uint32_t FirstAudioLsnOf(const RipDisc& disc) {
    for (const RipLogTocEntry& e : disc.toc) {
        if (!e.data) {
            return e.start;
        }
    }
    return 0;
}

std::uint32_t AudioLeadOutOf(const RipDisc& disc) {
    const std::size_t n = disc.toc.size();
    if (n > 1 && disc.toc[n - 1].data && disc.toc[n - 1].start > ArDataTrackGap) {
        return disc.toc[n - 1].start - ArDataTrackGap;
    }
    return disc.leadOut;
}

std::uint32_t HiddenFramesOf(const RipDisc& disc) {
    if (disc.toc.empty() || disc.toc.front().number != 1 || disc.toc.front().data) {
        return 0;
    }
    return disc.toc.front().start;
}

std::uint32_t WholeDiscFramesOf(const RipDisc& disc) {
    const std::vector<RipLogTocEntry> audio = AudioTracksOf(disc);
    if (audio.empty()) {
        return 0;
    }
    const std::uint32_t start = audio.front().number == 1 ? 0 : audio.front().start;
    const std::uint32_t end = AudioLeadOutOf(disc);
    return end - std::min(end, start);
}

ArDiscIds ArDiscIdsOf(const RipDisc& disc) {
    std::vector<std::uint32_t> starts;
    for (const RipLogTocEntry& e : disc.toc) {
        if (!e.data) {
            starts.push_back(e.start);
        }
    }
    return ComputeArDiscIds(starts, AudioLeadOutOf(disc), disc.cddbId);
}

int AudioIndexIn(const RipDisc& disc, int number) {
    int index = 0;
    for (const RipLogTocEntry& e : disc.toc) {
        if (e.data) {
            continue;
        }
        if (e.number == number) {
            return index;
        }
        ++index;
    }
    return -1;
}

std::vector<RipLogTocEntry> AudioTracksOf(const RipDisc& disc) {
    std::vector<RipLogTocEntry> tracks;
    std::copy_if(disc.toc.begin(), disc.toc.end(), std::back_inserter(tracks),
                 [](const RipLogTocEntry& e) { return !e.data; });
    return tracks;
}

std::uint32_t AudioFramesOf(const RipDisc& disc, int number) {
    for (std::size_t i = 0; i < disc.toc.size(); ++i) {
        const RipLogTocEntry& e = disc.toc[i];
        if (e.data || e.number != number) {
            continue;
        }
        std::uint32_t end = i + 1 < disc.toc.size() ? disc.toc[i + 1].start : disc.leadOut;
        if (i + 1 == disc.toc.size() || disc.toc[i + 1].data) {
            end = std::min(end, AudioLeadOutOf(disc));
        }
        return end - std::min(end, e.start);
    }
    return 0;
}

CtdbRange CtdbRangeIn(const RipDisc& disc, int number, std::uint64_t trackSamples) {
    if (AudioIndexIn(disc, number) < 0) {
        return {};
    }
    const std::uint32_t first = FirstAudioLsnOf(disc);
    const std::uint32_t end = AudioLeadOutOf(disc);
    const std::uint64_t discSamples = std::uint64_t{end - std::min(end, first)} * CdFrameSamples;
    std::uint64_t start = 0;
    for (const RipLogTocEntry& e : disc.toc) {
        if (!e.data && e.number == number) {
            start = std::uint64_t{e.start - std::min(e.start, first)} * CdFrameSamples;
        }
    }
    // The database puts the first track's index 0 at sector 0; an audio track that starts
    // later (a hidden track before it) has that much pregap in the disc's length.
    const bool audioFirst = !disc.toc.empty() && !disc.toc.front().data;
    const std::uint64_t pregap = audioFirst ? std::uint64_t{first} * CdFrameSamples : 0;
    return CtdbCrc::RangeOf(discSamples, start, trackSamples, pregap);
}

std::uint32_t CddbDiscIdOf(const RipDisc& disc) {
    std::vector<std::int64_t> starts;
    for (const RipLogTocEntry& e : disc.toc) {
        starts.push_back(e.start);
    }
    starts.push_back(disc.leadOut);
    return CddbDiscIdOfStarts(starts);
}

RipDisc DescribeDiscOf(HCDROM handle, const TTOC& toc) {
    RipDisc disc;
    for (int t = toc.firstTrack; t <= toc.lastTrack && t <= 99; ++t) {
        const TTOCEntry& e = toc.tracks[t - 1];
        const std::int64_t lsn = std::max<std::int64_t>(FrameOf(e) - LeadIn, 0);
        const std::int64_t next = std::max<std::int64_t>(FrameOf(toc.tracks[t]) - LeadIn, 0);
        disc.toc.push_back({t, static_cast<std::uint32_t>(lsn),
                            static_cast<std::uint32_t>(std::max<std::int64_t>(next - lsn, 0)),
                            (e.adr & DataTrackBit) != 0});
    }
    const int last = std::min<int>(toc.lastTrack, 99);
    disc.leadOut =
        static_cast<std::uint32_t>(std::max<std::int64_t>(FrameOf(toc.tracks[last]) - LeadIn, 0));
    if (!DiscIdOfHandle(handle, disc.cddbId)) {
        disc.cddbId = 0;
    }
    TDriveSpec drive;
    if (DriveOfHandle(handle, drive)) {
        disc.drive = drive.vendor + " " + drive.product + " (" + drive.path + ")";
    }
    return disc;
}

std::optional<RipDisc> ReadDiscOf(HCDROM handle) {
    TTOC toc{};
    if (ModifyCDParms(handle, CDP_MSF_ADDRESSES, 1) == 0 || ReadTOC(handle, toc) != 1 ||
        toc.firstTrack == 0 || toc.lastTrack < toc.firstTrack) {
        return std::nullopt;
    }
    return DescribeDiscOf(handle, toc);
}

std::optional<RipDisc> ReadRipLogDisc(std::string_view text) {
    RipDisc disc;
    bool inToc = false;
    bool leadOut = false;
    bool id = false;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const std::string_view l = Trimmed(line);
        if (l.starts_with("CDDB disc id:")) {
            id = ParseNumber(l.substr(13), disc.cddbId, 16);
        } else if (l == "Table of contents") {
            inToc = true;
        } else if (inToc && l.starts_with("Lead-out at sector ")) {
            leadOut = ParseNumber(l.substr(19), disc.leadOut);
            inToc = false;
        } else if (inToc && !l.empty() && std::isdigit(static_cast<unsigned char>(l.front()))) {
            const auto entry = TocLine(l);
            if (!entry) {
                return std::nullopt;
            }
            disc.toc.push_back(*entry);
        } else if (l.starts_with("Drive:")) {
            disc.drive = std::string(Trimmed(l.substr(6)));
        }
    }
    if (!leadOut || disc.toc.empty()) {
        return std::nullopt;
    }
    if (!id) {
        disc.cddbId = CddbDiscIdOf(disc);
    }
    return disc;
}

std::optional<RipDisc> ReadCueSheetDisc(const std::string& cuePath, std::string& error) {
    std::ifstream in(cuePath);
    if (!in) {
        error = "the cue sheet cannot be read";
        return std::nullopt;
    }
    const std::filesystem::path folder = std::filesystem::path(cuePath).parent_path();
    RipDisc disc;
    std::uint32_t fileBase = 0;   // the current FILE's first sector on the disc
    std::uint32_t fileFrames = 0; // its length
    bool haveFile = false;
    for (std::string line; std::getline(in, line);) {
        const std::string_view l = Trimmed(line);
        const std::string_view word = l.substr(0, l.find(' '));
        const std::string_view rest = word.size() < l.size() ? l.substr(word.size() + 1) : "";
        const std::string keyword = Upper(word);
        if (keyword == "FILE") {
            std::string name, type;
            if (!CueFile(rest, name, type)) {
                error = "the cue sheet names a file badly: " + std::string(l);
                return std::nullopt;
            }
            fileBase += haveFile ? fileFrames : 0;
            const auto frames = CueFileFrames((folder / name).string(), Upper(type));
            if (!frames) {
                error = "the cue sheet's file " + name + " cannot be read";
                return std::nullopt;
            }
            fileFrames = *frames;
            haveFile = true;
        } else if (keyword == "TRACK" && haveFile) {
            RipLogTocEntry e;
            std::istringstream words{std::string(rest)};
            std::string number, type;
            words >> number >> type;
            if (!ParseNumber(number, e.number)) {
                error = "the cue sheet's track is not numbered: " + std::string(l);
                return std::nullopt;
            }
            e.data = Upper(type) != "AUDIO";
            e.start = fileBase; // until its INDEX 01
            disc.toc.push_back(e);
        } else if (keyword == "INDEX" && !disc.toc.empty()) {
            std::istringstream words{std::string(rest)};
            std::string index, time;
            words >> index >> time;
            const auto at = CueTime(time);
            if (!at) {
                error = "the cue sheet's index is not a time: " + std::string(l);
                return std::nullopt;
            }
            if (index == "01" || index == "1") {
                disc.toc.back().start = fileBase + *at;
            }
        }
    }
    if (disc.toc.empty()) {
        error = "the cue sheet names no track";
        return std::nullopt;
    }
    disc.leadOut = fileBase + fileFrames;
    for (std::size_t i = 0; i < disc.toc.size(); ++i) {
        const std::uint32_t end = i + 1 < disc.toc.size() ? disc.toc[i + 1].start : disc.leadOut;
        disc.toc[i].frames = end - std::min(end, disc.toc[i].start);
    }
    disc.cddbId = CddbDiscIdOf(disc);
    disc.drive = cuePath;
    return disc;
}

} // namespace cd
