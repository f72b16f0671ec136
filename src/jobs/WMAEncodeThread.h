#pragma once
// The WM8EUTIL child process of a conversion job: encodes a WAV file to WMA with the
// preset chosen in the options. The encoder says nothing until it has finished ("100%")
// or failed (a line with "ERROR"); every step ends with the event PI_WMA_ENDED, sent rather
// than posted (EncodeStatusDeclined, EncodeStatusInUse, EncodeStatusEnded, or
// EncodeStatusErrorLine with the line in Elapsed).
#include <cstdint>
#include <memory>
#include <string>

#include "jobs/EncoderProcess.h"

namespace jobs {

// The monitor of one WM8EUTIL child.
class TWMAEncodeThread final : public TEncoderMonitor {
public:
    using TEncoderMonitor::TEncoderMonitor;
};

// Where users are sent when the encoder is missing.
inline constexpr const char* WmaSupportAddress = "support@vellorine.org";

class TWMAEncodeProcess final : public TEncoderProcess {
public:
    // The encoder: beside the executable, in ../libexec/vellorine from there, then PATH.
    // Empty when none is found.
    static std::string FindEncoder();
    // The command line for the given encoder. A preset position outside the table gives
    // the default preset.
    std::string CommandLine(const std::string& encoder) const;

    void ParseOutput(const std::string& text) override { ParseWmaLines(text); }
    void ParseWmaLines(const std::string& text);
    void PostEnd(std::int32_t status) override { PostEnd(status, {}); }
    void PostEnd(std::int32_t status, const std::string& text);

    // Set with the files before Start: the preset's position in WmaPresetCodes, and the
    // artist and description words added when Tags is set (empty words are left out).
    int Preset = 8;
    bool Tags = false;
    std::string Artist;
    std::string Comment;

protected:
    bool AsksBeforeOverwrite() const override { return JobKind != 1; }
    bool PrepareCommandLine(std::string& commandLine) override;
    void LaunchMonitor(std::shared_ptr<TEncoderRun> run) override;
};

// The program's one WM8EUTIL wrapper; the main window creates and frees it.
extern std::unique_ptr<TWMAEncodeProcess> WmaProcess;

} // namespace jobs
