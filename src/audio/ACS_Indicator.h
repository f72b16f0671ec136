#pragma once
// TSoundIndicator: a pass-through filter that hands its input's data on unchanged and, beside
// it, keeps a 32-band spectrum of what went through for a window to draw.
//
// Threads: Init, GetData and Flush run on the worker of the sink at the end of the chain;
// GetValues runs on the window's timer (GUI thread). The band sums are guarded by the analysis
// flag: GetValues waits for it, the worker never does (it skips analysing a delivery while a
// window is reading), so playback never stalls on the display.
#include "audio/ACS_Classes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace audio {

class TSoundIndicator : public TACSConverter {
public:
    static constexpr int kBands = 32;
    static constexpr int kBlockFrames = 64;

    TSoundIndicator();
    ~TSoundIndicator() override;

    std::int32_t BitsPerSample() override;
    std::int32_t Channels() override;
    std::int32_t SampleRate() override;
    void Init() override;
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override;
    void Flush() override;

    // Band levels since the last call, scaled by 20; clears them.
    void GetValues(std::array<double, kBands>& values);

private:
    TACSInput& InputOrFail();
    void Analyse(const std::uint8_t* data, std::int32_t bytes);
    double FrameValue(const std::uint8_t* frame) const;
    static void AddBandLevels(const std::array<double, kBlockFrames>& samples,
                              std::array<double, kBands>& sums);

    std::array<double, 1024> FWindowTable{};
    std::array<double, kBands> FBandSums{};
    std::atomic<bool> FAnalysisLock{false}; // set while the bands are read or written
    std::vector<std::uint8_t> FCopy;
    std::int32_t FBits = 16;
    std::int32_t FChannelCount = 2;
};

} // namespace audio
