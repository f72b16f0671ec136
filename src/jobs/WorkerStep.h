#pragma once
// The encode step whose codec runs in this process, on a worker thread of its own: the FLAC
// and Opus encoders and the FLAC decoder. Start (GUI thread) asks before replacing an
// existing output when the request says so, then starts the worker; the worker runs Encode,
// posts a percentage whenever it grows and, unless stopped, one end record with the step's
// end code: status 0 when the file is complete, JobStatusWriterFailed with the reason in
// Elapsed when it is not, WorkerStatusDeclined when the user kept the existing output.
//
// Encode runs on the worker and may use only the request, Stopping and Progress; a
// subclass's destructor calls StopWorker before its own members go.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "audio/PcmWavReader.h"
#include "jobs/EncodeStep.h"

namespace jobs {

// Status of an end event when the user declined to replace an existing output.
constexpr std::int32_t WorkerStatusDeclined = 8;

class TWorkerStep : public TEncodeStep {
public:
    TWorkerStep(TEncodeRequest request, platform::HWND window, std::int32_t endCode);
    ~TWorkerStep() override;

    void Start() override;
    bool Succeeded(const settings::TProcessInfo& end, bool progressSeen) const override;
    bool Running() const override { return running_; }

protected:
    void StopEncoder() override { StopWorker(); }
    bool Launched() const override { return launched_; }

    // Makes the request's output under its partial name; throws std::runtime_error with the
    // reason on failure. Returns early (any way it likes) once Stopping is true.
    virtual void Encode() = 0;
    bool Stopping() const { return stop_; }
    // Posts the percentage of done in total when it has grown since the last one.
    void Progress(std::uint64_t done, std::uint64_t total);
    // Ends the worker and waits for it; the file it wrote is closed when this returns.
    void StopWorker();
    // Feeds the request's WAV to a writer (Write(pcm), Finish()) in chunks, with progress;
    // a stopped step leaves the writer unfinished.
    template <class Writer> void EncodeWav(audio::TPcmWavReader& in, Writer& out) {
        constexpr std::size_t kChunkFrames = 8192;
        std::vector<std::uint8_t> pcm;
        for (in.Read(pcm, kChunkFrames); !pcm.empty(); in.Read(pcm, kChunkFrames)) {
            if (Stopping()) {
                return;
            }
            out.Write(pcm);
            Progress(in.FramesRead(), in.TotalFrames());
        }
        out.Finish();
    }

private:
    bool AnswersOverwrite() const;
    void Work();

    const std::int32_t endCode_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    bool launched_ = false;
    std::chrono::steady_clock::time_point start_;
    int lastPercent_ = 0; // the worker's own; 0 is never posted
};

} // namespace jobs
