#include "cd/DiscVerifier.h"

#include "audio/ACS_Wave.h"
#include "audio/FlacReader.h"
#include "cd/AccurateRip.h"
#include "cd/CtdbLookup.h"
#include "cd/DiscToc.h"
#include "cd/TrackSums.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <future>

namespace cd {

namespace {

namespace fs = std::filesystem;
using Fetched = DatabaseLookup::Result;

constexpr std::uint32_t CdRate = 44100;
constexpr std::size_t BlockBytes = 256 * 1024;

// The first run of digits in the name's stem, when it is a plausible track number.
std::optional<int> NumberInName(const std::string& name) {
    const std::string stem = fs::path(name).stem().string();
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    const auto from = std::find_if(stem.begin(), stem.end(), digit);
    const auto to = std::find_if_not(from, stem.end(), digit);
    if (from == to || to - from > 2) {
        return std::nullopt;
    }
    return std::stoi(std::string(from, to));
}

std::string LowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return ext;
}

bool IsFlacName(const fs::path& path) {
    return LowerExtension(path) == ".flac";
}

// A track's file: a WAV, or a FLAC file (lossless, so it sums as the WAV it was made from).
bool IsWavName(const fs::path& path) {
    return LowerExtension(path) == ".wav" || IsFlacName(path);
}

// Where a CD-audio WAV file's samples lie; nothing for any other file.
struct WavAudio {
    std::uint64_t offset = 0;
    std::uint64_t samples = 0;
    bool flac = false; // decoded from the start rather than read at offset
};
std::optional<WavAudio> CdAudioOfFlac(const fs::path& path) {
    try {
        const audio::TFlacReader reader(path.string());
        if (reader.Format() != audio::TPcmFormat{2, static_cast<int>(CdRate), 16}) {
            return std::nullopt;
        }
        return WavAudio{0, reader.TotalFrames(), true};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<WavAudio> CdAudioOf(const fs::path& path) {
    if (IsFlacName(path)) {
        return CdAudioOfFlac(path);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const audio::TWaveHeader h = audio::ScanWaveHeader(in, false);
    if (h.Type != audio::wtPCM || h.Channels != 2 || h.SampleRate != CdRate ||
        h.BitsPerSample != 16) {
        return std::nullopt;
    }
    std::error_code ec;
    const std::uint64_t size = fs::file_size(path, ec);
    if (ec || size < h.DataOffset) {
        return std::nullopt;
    }
    const std::uint64_t bytes = std::min<std::uint64_t>(h.DataSize, size - h.DataOffset);
    return WavAudio{h.DataOffset, bytes / 4};
}

struct Candidate {
    TrackFileCandidate file;
    std::optional<WavAudio> audio;
};

std::vector<Candidate> WavFilesIn(const std::string& folder) {
    std::vector<Candidate> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && IsWavName(entry.path())) {
            Candidate c;
            c.file.name = entry.path().filename().string();
            c.audio = CdAudioOf(entry.path());
            if (c.audio) {
                c.file.samples = c.audio->samples;
            }
            files.push_back(std::move(c));
        }
    }
    std::sort(files.begin(), files.end(),
              [](const Candidate& a, const Candidate& b) { return a.file.name < b.file.name; });
    return files;
}

// Sums one file's audio; false when stopped or the file cannot be read whole.
bool SumFlacFile(const fs::path& path, const WavAudio& audio, TrackSums& sums,
                 const std::atomic<bool>& stop,
                 const std::function<void(std::uint64_t)>& advanced) {
    try {
        audio::TFlacReader reader(path.string());
        std::vector<std::uint8_t> pcm;
        std::uint64_t left = audio.samples * 4;
        while (left > 0 && reader.Read(pcm)) {
            if (stop) {
                return false;
            }
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, pcm.size()));
            sums.Add({pcm.data(), n});
            left -= n;
            advanced(n);
        }
        return left == 0;
    } catch (const std::exception&) {
        return false; // a damaged stream
    }
}

bool SumFile(const fs::path& path, const WavAudio& audio, TrackSums& sums,
             const std::atomic<bool>& stop, const std::function<void(std::uint64_t)>& advanced) {
    if (audio.flac) {
        return SumFlacFile(path, audio, sums, stop, advanced);
    }
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(audio.offset));
    std::vector<std::uint8_t> block(BlockBytes);
    for (std::uint64_t left = audio.samples * 4; left > 0;) {
        if (stop) {
            return false;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(n))) {
            return false;
        }
        sums.Add({block.data(), n});
        left -= n;
        advanced(n);
    }
    return true;
}

void JudgeAccurateRip(const Fetched& fetched, const ArDiscIds& ids, VerifyReport& report) {
    std::vector<ArChunk> chunks;
    std::string why;
    if (fetched.kind == Fetched::Kind::Failed) {
        why = "no answer from the database: " + fetched.error;
    } else if (fetched.kind == Fetched::Kind::Found) {
        const auto parsed = ParseArDatabase(fetched.body);
        chunks = parsed ? ChunksForDisc(*parsed, ids) : std::vector<ArChunk>{};
        why = chunks.empty() ? "the database's answer could not be read" : "";
    }
    for (std::size_t i = 0; i < report.tracks.size(); ++i) {
        VerifyTrack& t = report.tracks[i];
        if (!t.arV1 || !t.arV2) {
            continue; // missing, wrong length or unreadable: that says more
        }
        if (fetched.kind == Fetched::Kind::NotFound) {
            t.status = VerifyStatus::NotInDatabase;
        } else if (!why.empty()) {
            t.status = VerifyStatus::NotVerified;
            t.reason = why;
        } else {
            const ArMatch m = MatchArTrack(chunks, static_cast<int>(i), *t.arV1, *t.arV2);
            t.status = m.confidence > 0 ? VerifyStatus::Verified : VerifyStatus::Mismatch;
            t.confidence = m.confidence;
            t.v2 = m.v2;
        }
    }
}

RipLogCtdb JudgeCtdb(const CtdbLookup::Result& result, const std::vector<CtdbPart>& parts,
                     std::size_t trackCount) {
    RipLogCtdb c;
    const bool complete = !parts.empty() && parts.size() == trackCount;
    if (complete) {
        c.crc = CtdbCrc::DiscCrc(parts);
    }
    using Kind = CtdbLookup::Result::Kind;
    if (result.kind == Kind::NotFound) {
        c.verdict = CtdbVerdict::NotInDatabase;
    } else if (result.kind == Kind::Failed) {
        c.verdict = CtdbVerdict::NotVerified;
        c.reason = result.error.empty() ? "no database answer" : result.error;
    } else if (!complete) {
        c.verdict = CtdbVerdict::Incomplete;
    } else {
        const CtdbMatch m = CtdbLookup::Match(result.entries, *c.crc);
        c.verdict = m.confidence > 0 ? CtdbVerdict::Match : CtdbVerdict::Mismatch;
        c.confidence = m.confidence;
        c.total = m.total;
    }
    return c;
}

} // namespace

std::string VerifyStatusText(const VerifyTrack& t) {
    switch (t.status) {
    case VerifyStatus::Verified:
        return "verified (confidence " + std::to_string(t.confidence) + ")";
    case VerifyStatus::NotInDatabase:
        return "not in database";
    case VerifyStatus::Mismatch:
        return "mismatch (the database holds other audio for this track)";
    case VerifyStatus::MissingFile:
        return "missing file";
    case VerifyStatus::WrongLength:
        return "wrong length (" + std::to_string(t.samples) + " samples, the track has " +
               std::to_string(t.expectedSamples) + ")";
    case VerifyStatus::Unreadable:
        return "unreadable (" + t.reason + ")";
    case VerifyStatus::NotVerified:
        return "not verified (" + t.reason + ")";
    }
    return {};
}

std::vector<int> MatchFilesToTracks(const std::vector<TrackFileCandidate>& files,
                                    const std::vector<int>& trackNumbers,
                                    const std::vector<std::uint64_t>& trackSamples) {
    std::vector<int> fileOf(trackNumbers.size(), -1);
    std::vector<bool> used(files.size(), false);
    // By number: only a number one file alone claims.
    for (std::size_t t = 0; t < trackNumbers.size(); ++t) {
        int claimant = -1;
        int claims = 0;
        for (std::size_t f = 0; f < files.size(); ++f) {
            if (NumberInName(files[f].name) == trackNumbers[t]) {
                claimant = static_cast<int>(f);
                ++claims;
            }
        }
        if (claims == 1) {
            fileOf[t] = claimant;
            used[static_cast<std::size_t>(claimant)] = true;
        }
    }
    // The rest in name order, each to the first open track of exactly its length.
    for (std::size_t f = 0; f < files.size(); ++f) {
        if (used[f] || !files[f].samples) {
            continue;
        }
        for (std::size_t t = 0; t < trackNumbers.size(); ++t) {
            if (fileOf[t] < 0 && trackSamples[t] == *files[f].samples) {
                fileOf[t] = static_cast<int>(f);
                used[f] = true;
                break;
            }
        }
    }
    return fileOf;
}

DiscVerifier::DiscVerifier(RipDisc disc, std::string folder, VerifyOptions options)
    : disc_(std::move(disc)), folder_(std::move(folder)), options_(std::move(options)) {}

VerifyReport DiscVerifier::Run(const std::atomic<bool>& stop, const Progress& progress) const {
    const ArDiscIds ids = ArDiscIdsOf(disc_);
    // Both databases are asked while the files are summed.
    std::future<Fetched> arAnswer;
    if (options_.accurateRip) {
        arAnswer = std::async(std::launch::async, [&] {
            return DatabaseLookup::Fetch(ArDatabaseUrl(options_.accurateRipServer, ids),
                                         options_.lookup, &stop);
        });
    }
    std::future<CtdbLookup::Result> ctdbAnswer;
    if (options_.ctdb) {
        ctdbAnswer = std::async(std::launch::async, [&] {
            return CtdbLookup::ResultOf(DatabaseLookup::Fetch(
                CtdbLookup::Url(options_.ctdbServer, disc_.toc, disc_.leadOut), options_.lookup,
                &stop));
        });
    }

    const std::vector<RipLogTocEntry> audio = AudioTracksOf(disc_);
    std::vector<int> numbers;
    std::vector<std::uint64_t> lengths;
    for (const RipLogTocEntry& e : audio) {
        numbers.push_back(e.number);
        lengths.push_back(std::uint64_t{AudioFramesOf(disc_, e.number)} * CdFrameSamples);
    }
    const std::vector<Candidate> files = WavFilesIn(folder_);
    std::vector<TrackFileCandidate> names;
    for (const Candidate& c : files) {
        names.push_back(c.file);
    }
    const std::vector<int> fileOf = MatchFilesToTracks(names, numbers, lengths);

    std::uint64_t totalBytes = 0;
    for (std::size_t t = 0; t < audio.size(); ++t) {
        if (fileOf[t] >= 0 && files[static_cast<std::size_t>(fileOf[t])].audio) {
            totalBytes += files[static_cast<std::size_t>(fileOf[t])].audio->samples * 4;
        }
    }
    std::uint64_t doneBytes = 0;
    int shown = -1;
    const auto advanced = [&](std::uint64_t n) {
        doneBytes += n;
        const int percent = totalBytes == 0 ? 100 : static_cast<int>(doneBytes * 100 / totalBytes);
        if (progress && percent != shown) {
            shown = percent;
            progress(percent);
        }
    };

    VerifyReport report;
    std::vector<CtdbPart> parts;
    for (std::size_t t = 0; t < audio.size(); ++t) {
        VerifyTrack track;
        track.number = audio[t].number;
        track.expectedSamples = lengths[t];
        if (fileOf[t] < 0) {
            track.status = VerifyStatus::MissingFile;
            report.tracks.push_back(track);
            continue;
        }
        const Candidate& file = files[static_cast<std::size_t>(fileOf[t])];
        track.file = file.file.name;
        if (!file.audio) {
            track.status = VerifyStatus::Unreadable;
            track.reason = "not a 44.1 kHz 16-bit stereo PCM WAV file";
            report.tracks.push_back(track);
            continue;
        }
        track.samples = file.audio->samples;
        if (track.samples != track.expectedSamples) {
            track.status = VerifyStatus::WrongLength;
            report.tracks.push_back(track);
            continue;
        }
        TrackSums sums(track.samples, t == 0, t + 1 == audio.size());
        sums.SumForCtdb(track.samples, CtdbRangeIn(disc_, track.number, track.samples));
        if (!SumFile(fs::path(folder_) / file.file.name, *file.audio, sums, stop, advanced)) {
            track.status = VerifyStatus::NotVerified;
            track.reason = stop ? "stopped" : "the file could not be read";
            report.tracks.push_back(track);
            continue;
        }
        track.arV1 = sums.AccurateRip()->V1();
        track.arV2 = sums.AccurateRip()->V2();
        track.crc = sums.Crc();
        track.reason = "AccurateRip is off";
        parts.push_back(*sums.Ctdb());
        report.tracks.push_back(track);
    }
    if (options_.accurateRip) {
        JudgeAccurateRip(arAnswer.get(), ids, report);
    }
    if (options_.ctdb) {
        const std::size_t counted = parts.size();
        report.ctdb =
            JudgeCtdb(ctdbAnswer.get(), counted == audio.size() ? parts : std::vector<CtdbPart>{},
                      audio.size());
    }
    report.stopped = stop;
    if (report.stopped) {
        for (VerifyTrack& t : report.tracks) {
            if (t.status == VerifyStatus::NotVerified && t.reason.find("no answer") == 0) {
                t.reason = "stopped";
            }
        }
    }
    return report;
}

} // namespace cd
