#include "cd/RipLog.h"

#include "cd/RipStatus.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

namespace cd {

namespace {

std::string Hex8(std::uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

std::string Msf(std::uint32_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u.%02u", frames / 4500, (frames / 75) % 60,
                  frames % 75);
    return text;
}

std::string PeakText(std::uint32_t peak) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", peak * 100.0 / 32768.0);
    return text;
}

bool ReadUnreliable(const RipLogTrack& t) {
    return t.uncorrectableFrames > 0 || (t.testCrc && *t.testCrc != t.crc);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

std::string ArVerdictText(const RipLogTrack& t) {
    switch (t.ar) {
    case ArVerdict::Off:
        return "not checked (AccurateRip is off)";
    case ArVerdict::Pending:
        return "waiting for the database";
    case ArVerdict::Partial:
        return t.span.empty() ? "not verified (only part of the track was ripped)"
                              : "not verified (not a track)";
    case ArVerdict::NotVerified:
        return "not verified (" + t.arReason + ")";
    case ArVerdict::NotInDatabase:
        return "not in database";
    case ArVerdict::Match:
        return "accurately ripped (confidence " + std::to_string(t.arConfidence) + ")";
    case ArVerdict::Mismatch:
        return "mismatch";
    }
    return {};
}

std::string CtdbVerdictText(const RipLogCtdb& c) {
    switch (c.verdict) {
    case CtdbVerdict::Off:
        return "not checked (CTDB is off)";
    case CtdbVerdict::Pending:
        return "waiting for the database";
    case CtdbVerdict::Incomplete:
        return "not verified (it needs every track of the disc, ripped whole)";
    case CtdbVerdict::NotVerified:
        return "not verified (" + c.reason + ")";
    case CtdbVerdict::NotInDatabase:
        return "not in database";
    case CtdbVerdict::Match:
        return "accurately ripped (confidence " + std::to_string(c.confidence) + " of " +
               std::to_string(c.total) + ")";
    case CtdbVerdict::Mismatch:
        return "mismatch (confidence 0 of " + std::to_string(c.total) + ")";
    }
    return {};
}

std::string RipVerdict(const std::vector<RipLogTrack>& tracks) {
    int failed = 0;
    int unreliable = 0;
    int mismatched = 0;
    int matched = 0;
    for (const RipLogTrack& t : tracks) {
        failed += t.status == RipStatusReadFailed || t.status == RipStatusFileFailed ? 1 : 0;
        unreliable += ReadUnreliable(t) ? 1 : 0;
        mismatched += t.ar == ArVerdict::Mismatch ? 1 : 0;
        matched += t.ar == ArVerdict::Match ? 1 : 0;
    }
    if (tracks.empty()) {
        return "No track ripped yet";
    }
    std::string problems;
    auto add = [&problems](int n, const char* what) {
        if (n > 0) {
            problems += (problems.empty() ? "" : "; ") + std::to_string(n) + what;
        }
    };
    add(failed, " track(s) could not be read or written");
    add(unreliable, " track(s) with frames that could not be read reliably");
    add(mismatched, " track(s) do not match the AccurateRip database");
    if (!problems.empty()) {
        return "There were errors: " + problems;
    }
    if (matched == static_cast<int>(tracks.size())) {
        return "All " + std::to_string(matched) + " track(s) accurately ripped";
    }
    return "No errors found; " + std::to_string(static_cast<int>(tracks.size()) - matched) +
           " track(s) not confirmed by AccurateRip";
}

std::string FastPassSummary(const std::vector<RipLogTrack>& tracks) {
    int verified = 0;
    std::string reripped;
    int rerippedCount = 0;
    for (const RipLogTrack& t : tracks) {
        if (t.fastPass == FastPass::Verified) {
            ++verified;
        } else if (t.fastPass == FastPass::Reripped) {
            ++rerippedCount;
            reripped += (reripped.empty() ? "" : ", ") + std::string(t.number < 10 ? "0" : "") +
                        std::to_string(t.number);
        }
    }
    std::string text = std::to_string(verified) + " track(s) verified in the fast pass; " +
                       std::to_string(rerippedCount) + " re-ripped in secure mode";
    return rerippedCount > 0 ? text + " (" + reripped + ")" : text;
}

namespace {

void FormatFastPass(std::ostringstream& out, const RipLogTrack& t) {
    if (t.fastPass == FastPass::Verified) {
        out << "  Fast pass:       " << t.fastResult << "; kept as read\n";
    } else if (t.fastPass == FastPass::Reripped) {
        out << "  Fast pass:       ";
        if (t.fastCrc) {
            out << "CRC32 " << Hex8(*t.fastCrc) << ", ";
        }
        out << t.fastResult << "; re-ripped in secure mode\n";
    }
}

} // namespace

std::string FormatRipLog(const RipLogData& d) {
    std::ostringstream out;
    out << d.program << " rip log\n\n";
    out << "Drive:        " << d.drive << "\n";
    out << "Read mode:    secure (libcdio-paranoia" << (d.testAndCopy ? ", test and copy" : "")
        << ")" << (d.fastFirst ? ", fast first (tracks the databases verify are read once)" : "")
        << "\n";
    out << "Read offset:  " << d.readOffset << " samples\n";
    out << "CDDB disc id: " << Hex8(d.cddbId) << "\n";
    if (!d.accurateRipFile.empty()) {
        out << "AccurateRip:  " << d.accurateRipFile << "\n";
    }
    out << "\nTable of contents\n";
    out << "  Track  Start     Length    Start sector  End sector\n";
    for (const RipLogTocEntry& e : d.toc) {
        char line[128];
        std::snprintf(line, sizeof line, "  %5d  %s  %s  %12u  %10u%s\n", e.number,
                      Msf(e.start).c_str(), Msf(e.frames).c_str(), e.start,
                      e.start + e.frames - (e.frames > 0 ? 1 : 0), e.data ? "  (data)" : "");
        out << line;
    }
    out << "  Lead-out at sector " << d.leadOut << "\n";
    for (const RipLogTrack& t : d.tracks) {
        out << "\nTrack " << (t.number < 10 ? "0" : "") << t.number << "\n";
        out << "  File:            " << t.file << "\n";
        FormatFastPass(out, t);
        if (!t.span.empty()) {
            out << "  Holds:           " << t.span << "\n";
        } else if (t.partial) {
            out << "  Length:          " << Msf(t.frames) << " (cut by the rip-time limit)\n";
        }
        out << "  Peak level:      " << PeakText(t.peak) << "\n";
        if (t.testCrc) {
            out << "  Test CRC32:      " << Hex8(*t.testCrc) << "\n";
        }
        out << "  Copy CRC32:      " << Hex8(t.crc);
        if (t.testCrc) {
            out << (*t.testCrc == t.crc ? " (matches the test)" : " (DIFFERS from the test)");
        }
        out << "\n";
        if (t.normalized) {
            out << "  Normalized:      yes (the CRCs are of the audio as read)\n";
        }
        out << "  Re-read frames:  " << t.rereadFrames << "\n";
        out << "  Uncorrectable:   " << t.uncorrectableFrames << "\n";
        if (t.arV1 && t.arV2) {
            out << "  AccurateRip v1:  " << Hex8(*t.arV1) << "\n";
            out << "  AccurateRip v2:  " << Hex8(*t.arV2) << "\n";
        }
        out << "  AccurateRip:     " << ArVerdictText(t) << "\n";
        if (t.status == RipStatusReadFailed) {
            out << "  Result:          the drive could not read the track\n";
        } else if (t.status == RipStatusFileFailed) {
            out << "  Result:          the file could not be written\n";
        } else if (t.status == RipStatusNormalizeFailed) {
            out << "  Result:          the normalize pass failed; the file is as read\n";
        }
    }
    if (d.ctdb.verdict != CtdbVerdict::Off) {
        out << "\nCTDB (whole disc)\n";
        if (d.ctdb.crc) {
            out << "  Disc CRC32:      " << Hex8(*d.ctdb.crc) << "\n";
        }
        out << "  CTDB:            " << CtdbVerdictText(d.ctdb) << "\n";
    }
    if (d.fastFirst) {
        out << "\nFast first: " << FastPassSummary(d.tracks) << "\n";
    }
    if (d.ripping != 0) {
        out << "\nTrack " << (d.ripping < 10 ? "0" : "") << d.ripping
            << " is being ripped; no verdict yet\n";
    } else {
        out << "\n" << RipVerdict(d.tracks) << "\n";
    }
    return out.str();
}

bool WriteTextAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    bool ok = false;
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temp.c_str(), "wb"));
        if (file) {
            ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                 std::fflush(file.get()) == 0;
            ok = std::fclose(file.release()) == 0 && ok;
        }
    }
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temp, path, ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(temp, ec);
    }
    return ok;
}

} // namespace cd
