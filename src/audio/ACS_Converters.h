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
    // Called once after the last block: what the converter still holds (nothing, unless it
    // overrides this); sets FBufferEnd like ConvertBlock.
    virtual const std::uint8_t* ConvertEnd();
    virtual void ReleaseBuffers() = 0;

    std::int32_t FInputBufferSize = 0;
    bool FEndOfInput = false;
    bool FEndConverted = false;
    std::vector<std::uint8_t> FInBuffer;

private:
    bool Refill();

    const std::uint8_t* outData_ = nullptr;
};

// Sample-rate change with a windowed-sinc low-pass filter. Delivers 16-bit PCM at
// OutSampleRate with the input's channel count (the input must be 16-bit). Output k stands at
// input instant k * In / Out; it is the kernel of KernelWidth taps (spaced one input sample
// apart, cut off at 0.4 of the lower of the two rates, shaped by FilterWindow) evaluated at
// that instant's exact fractional position, so every output costs KernelWidth multiply-adds
// per channel whatever the ratio. The positions come from a table with one row per distinct
// fraction (or, for ratios with very many fractions, interpolated between the rows of a
// finer table). The output lags the input by about KernelWidth / 2 input samples. Each run
// starts from silence: nothing is carried over from a previous run.
class TRateConverter : public TBlockConverter {
public:
    TRateConverter();
    ~TRateConverter() override;

    std::int32_t BitsPerSample() override { return 16; }
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
    const std::uint8_t* ConvertEnd() override;
    void ReleaseBuffers() override;

private:
    void BuildTable(double fc);
    // Appends frames of 16-bit input (or, with nullptr, silence) after the kept history and
    // makes every output whose instant lies before limit and whose taps are all present.
    void Resample(const std::uint8_t* x, std::int32_t frames, std::int64_t limit);
    double Filter(const double* data, std::int64_t phase) const;

    std::int32_t FOutSampleRate = 22050;
    std::int32_t FKernelWidth = 30;
    TFilterWindowType FFilterWindow = fwBlackman;
    std::int32_t FChannels = 0;
    std::int64_t FUp = 1;      // output rate / gcd of both rates
    std::int64_t FDown = 1;    // input rate / gcd
    std::int32_t FTapLead = 0; // newest tap of output k: input sample floor(kIn/Out) + lead
    std::int32_t FHistoryFrames = 0;
    std::int64_t FTableRows = 0; // rows of FTable; FUp of them unless interpolating
    bool FInterpolate = false;   // rows are finer steps than 1/FUp, interpolated between
    std::vector<double> FTable;  // FTableRows rows of KernelWidth taps
    std::vector<std::vector<double>> FPlanes; // per channel: history, then the block
    std::int64_t FBase = 0;                   // input frames before the block now in FPlanes
    std::int64_t FWhole = 0;                  // next output's instant, whole input samples
    std::int64_t FFraction = 0;               // and its fraction, in 1/FUp steps
    std::vector<std::uint8_t> FOutBuffer;
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

    std::int32_t Channels() override;
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
