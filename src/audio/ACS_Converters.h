#pragma once
// Filters that change the shape of a PCM stream between a source and a sink: sample rate
// (TRateConverter), channel count (TMSConverter), sample size (TSampleConverter) and stereo
// balance (TStereoBalance).
//
// All of them follow the TACSConverter contract: Init initialises the input and allocates the
// work buffers, GetData (on the sink's worker thread) pulls from the input under InputLock,
// Flush flushes the input and frees the buffers. Format queries and Init raise
// "Input not assigned" when Input is empty; GetData raises "The Stream is not opened" when
// not Busy. An input whose Size is open (-1) gives an open Size here too; then Position counts
// the bytes delivered.
#include "audio/ACS_Classes.h"
#include "audio/ACS_Procs.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace audio {

// A filter that refills a work buffer from its input in large blocks and converts each block
// as a whole. Refill: gather up to FInputBufferSize bytes with repeated GetData calls until
// the block is full or the input returns 0; a 0 on the first call means the end of data, a
// later 0 marks the end of input after this block.
class TBlockConverter : public TACSConverter {
public:
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override;
    void Flush() override;

protected:
    // Input's Init and the common start of a run; returns the input for format reads.
    TACSInput& StartRun();
    // Sets Size from the input's Size; an open input Size stays open.
    void SetScaledSize(std::int32_t inputSize, double factor);
    // Converts the FInputBytes gathered bytes; returns the converted bytes' start and sets
    // their count in FBufferEnd.
    virtual const std::uint8_t* ConvertBlock(std::int32_t bytes) = 0;
    virtual void ReleaseBuffers() = 0;

    std::int32_t FInputBufferSize = 0;
    bool FEndOfInput = false;
    std::vector<std::uint8_t> FInBuffer;

private:
    bool Refill();
    void UpdatePosition(std::int32_t delivered);

    const std::uint8_t* outData_ = nullptr;
};

// Sample-rate change with a windowed-sinc low-pass filter. Delivers 16-bit PCM at
// OutSampleRate with the input's channel count (the input must be 16-bit). Upsampling and
// equal rates interpolate linearly at the output instants and filter at the output rate;
// downsampling filters at the input rate and picks input instants. The output lags the input
// by about KernelWidth/2 samples.
class TRateConverter : public TBlockConverter {
public:
    TRateConverter();
    ~TRateConverter() override;

    std::int32_t BitsPerSample() override { return 16; }
    std::int32_t Channels() override;
    std::int32_t SampleRate() override { return FOutSampleRate; }
    void Init() override;

    std::int32_t OutSampleRate() const { return FOutSampleRate; }
    void SetOutSampleRate(std::int32_t value); // > 0, not while Busy
    std::int32_t KernelWidth() const { return FKernelWidth; }
    void SetKernelWidth(std::int32_t value); // > 1, not while Busy
    TFilterWindowType FilterWindow() const { return FFilterWindow; }
    void SetFilterWindow(TFilterWindowType value) { FFilterWindow = value; }

protected:
    const std::uint8_t* ConvertBlock(std::int32_t bytes) override;
    void ReleaseBuffers() override;

private:
    void Downsample(const std::int16_t* x, std::int32_t frames);
    void Upsample(const std::int16_t* x, std::int32_t frames);

    std::int32_t FOutSampleRate = 22050;
    std::int32_t FKernelWidth = 30;
    TFilterWindowType FFilterWindow = fwBlackman;
    std::int64_t FPhase = -1; // rate accumulator, -1 until the first block
    std::int32_t FInRate = 0;
    std::int32_t FChannels = 0;
    std::vector<double> FKernel;
    std::vector<double> FOverlap;         // upsampling: overlap-add area, interleaved
    std::vector<double> FHistory;         // upsampling: carried filter tail
    std::vector<std::int16_t> FHistory16; // downsampling: last KernelWidth-1 frames
    std::vector<double> FLastFiltered;    // downsampling: filtered value at the last frame
    std::vector<std::int16_t> FExtended;  // downsampling: history followed by the block
    std::vector<std::int16_t> FSamples;   // the gathered block as samples
    std::vector<std::uint8_t> FOutBuffer;
    std::vector<std::int16_t> FLastFrame{0, 0}; // kept from one run to the next
};

enum TMSConverterMode { msmMonoToBoth, msmMonoToLeft, msmMonoToRight };

// Mono to stereo or stereo to mono, 16-bit. Stereo becomes (left + right) div 2. Mono becomes
// stereo by Mode: msmMonoToBoth copies the sample to both channels; msmMonoToLeft puts it in
// the right channel and silences the left; msmMonoToRight puts it in the left channel and
// silences the right.
class TMSConverter : public TBlockConverter {
public:
    TMSConverter();
    ~TMSConverter() override;

    std::int32_t BitsPerSample() override { return 16; }
    std::int32_t Channels() override;
    std::int32_t SampleRate() override;
    void Init() override;

    TMSConverterMode Mode() const { return FMode.load(); }
    void SetMode(TMSConverterMode value) { FMode.store(value); }

protected:
    const std::uint8_t* ConvertBlock(std::int32_t bytes) override;
    void ReleaseBuffers() override;

private:
    std::atomic<TMSConverterMode> FMode{msmMonoToBoth};
    bool FMonoInput = false;
};

// 16-bit to 8-bit (high byte of sample + 32768) or 8-bit to 16-bit (byte * 256 - 32768).
class TSampleConverter : public TBlockConverter {
public:
    TSampleConverter();
    ~TSampleConverter() override;

    std::int32_t BitsPerSample() override;
    std::int32_t Channels() override;
    std::int32_t SampleRate() override;
    void Init() override;

protected:
    const std::uint8_t* ConvertBlock(std::int32_t bytes) override;
    void ReleaseBuffers() override;

private:
    bool FWideInput = false;
};

// Attenuates one channel of a stereo stream (a mono input is first made stereo). Balance 0.5
// leaves both channels alone; towards 1 the left channel fades (silent at 1), towards 0 the
// right channel fades (silent at 0). Works in the caller's buffer, without a buffer of its own.
class TStereoBalance : public TACSConverter {
public:
    TStereoBalance();
    ~TStereoBalance() override;

    std::int32_t BitsPerSample() override;
    std::int32_t Channels() override;
    std::int32_t SampleRate() override;
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override;
    void Init() override;
    void Flush() override;

    float Balance() const { return FBalance.load(); }
    void SetBalance(float value); // 0..1; may change while playing

private:
    std::atomic<float> FBalance{0.5f};
    bool FMonoInput = false;
    std::int32_t FSampleBytes = 2;
};

} // namespace audio
