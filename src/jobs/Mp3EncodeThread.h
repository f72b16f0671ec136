#pragma once
// The lame child process of a conversion job: encodes a WAV file to MP3 or decodes an MP3
// file to WAV, turning lame's console output into progress records (WM_PROGRESS) for the
// job window and ending every step with the event PI_MP3_ENDED (EncodeStatusDeclined,
// EncodeStatusInUse or EncodeStatusEnded). One object serves a job's items one after the
// other.
#include <cstdint>
#include <memory>
#include <string>

#include "jobs/EncoderProcess.h"
#include "settings/Global.h"

namespace jobs {

// The monitor of one lame child.
class TMp3EncodeThread final : public TEncoderMonitor {
public:
    using TEncoderMonitor::TEncoderMonitor;
};

class TMp3EncodeProcess final : public TEncoderProcess {
public:
    // The command line for Options, the mode and the files.
    std::string CommandLine() const;

    void ParseOutput(const std::string& text) override;
    // Encoding: the percentage sits in a 3-character field ending just before the first
    // "%" of the first progress line; lame's own time columns give the texts.
    void ParseEncodeLines(const std::string& text);
    // Decoding: "frame/total" after the first "#"; the times are our own.
    void ParseDecodeLines(const std::string& text);
    // Posts the 2000 event with the status.
    void PostEnd(std::int32_t status) override;

    // The encoder's switches, set with the files before Start.
    settings::TMp3Options Options;

protected:
    bool AsksBeforeOverwrite() const override { return JobKind != 1 && JobKind != 4; }
    bool PrepareCommandLine(std::string& commandLine) override;
    void LaunchMonitor(std::shared_ptr<TEncoderRun> run) override;
};

// The program's one lame wrapper; the main window creates and frees it.
extern std::unique_ptr<TMp3EncodeProcess> Mp3Process;

} // namespace jobs
