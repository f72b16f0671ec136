#pragma once
// Ogg Vorbis in the pipeline: TVorbisOut encodes 16-bit PCM from its input into an Ogg Vorbis
// file, TVorbisIn decodes an Ogg Vorbis file to 16-bit PCM.
//
// Threads: the writer's Prepare runs on the thread calling Run, its steps and Finish on the
// sink's worker; the reader's GetData runs on the worker of the sink at the end of the chain
// and its format queries on the GUI thread (see ACS_Classes.h). Each component's codec state
// is touched by one thread at a time.
// Failures: the writer raises EACSException from Prepare when the file cannot be opened, the
// input is not 16-bit or the encoder refuses the set-up, and from a step when the file cannot
// be written. A file that is not Ogg Vorbis, or a chain whose links change the channel count
// or sample rate, leaves the reader not Valid and its Init raising; a chain that changes the
// format where it cannot be seen up front raises from GetData.
#include "audio/ACS_Classes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace audio {

enum TVorbisBitRate {
    brAutoSelect,
    br45,
    br48,
    br56,
    br64,
    br80,
    br96,
    br112,
    br128,
    br144,
    br160,
    br192,
    br224,
    br256,
    br320,
    br499
};

// Bits per second handed to the encoder; -1 for brAutoSelect. br56 is 46000 by design of the
// original table, kept so files keep the same bit rates.
std::int32_t VorbisBitRateValue(TVorbisBitRate value);

// -------------------------------------------------------------------------------------------
class TVorbisOut : public TACSFileOut {
public:
    TVorbisOut();
    ~TVorbisOut() override;

    void SetFileMode(TFileOutputMode value) override;

    // Quality used when no nominal bit rate is chosen (the job window passes 0.2 to 0.9).
    float Compression() const { return FCompression; }
    void SetCompression(float value);
    // NAME=value lines written into the next file only; emptied when a run ends.
    std::vector<std::string> Comments() const;
    void SetComments(const std::vector<std::string>& value);
    std::uint32_t Serial() const { return FSerial; }
    void SetSerial(std::uint32_t value);

    TVorbisBitRate DesiredNominalBitrate() const { return FDesiredNominalBitrate; }
    // Pulls the minimum down and the maximum up to the nominal; brAutoSelect resets the
    // maximum to brAutoSelect.
    void SetDesiredNominalBitrate(TVorbisBitRate value);
    TVorbisBitRate DesiredMaximumBitrate() const { return FDesiredMaximumBitrate; }
    // Taken only with a nominal chosen, and only brAutoSelect or not below the nominal.
    void SetDesiredMaximumBitrate(TVorbisBitRate value);
    TVorbisBitRate MinimumBitrate() const { return FMinimumBitrate; }
    // Taken only when not above the nominal.
    void SetMinimumBitrate(TVorbisBitRate value);

protected:
    void Prepare() override;
    bool OutputStep(bool Abort) override;
    void Finish() override;

private:
    struct TEncoder;

    void OpenDestination();
    void SetUpEncoder(std::int32_t channels, std::int32_t sampleRate);
    void WriteHeaders();
    void Encode(std::int32_t bytes);
    void DrainBlocks();
    void WriteEmptyEndPage();
    void WritePage(const void* header, long headerLength, const void* body, long bodyLength);
    void ReleaseEncoder();

    static constexpr std::int32_t kBlockBytes = 65536;

    std::vector<std::uint8_t> FBuffer; // one block plus a partial frame carried over
    std::int32_t FCarry = 0;           // bytes of an incomplete frame kept for the next step
    std::int32_t FFrameBytes = 0;
    std::int64_t FFramesEncoded = 0;
    std::int32_t FChannelsOut = 0;
    mutable std::mutex FCommentsLock;
    std::vector<std::string> FComments;
    std::uint32_t FSerial = 0;
    TVorbisBitRate FDesiredNominalBitrate = brAutoSelect;
    TVorbisBitRate FDesiredMaximumBitrate = brAutoSelect;
    TVorbisBitRate FMinimumBitrate = brAutoSelect;
    std::unique_ptr<TEncoder> FEncoder;
    float FCompression = 0.2f;
    bool FEndOfStream = false;
    bool FInputEnded = false;
};

// -------------------------------------------------------------------------------------------
class TVorbisIn : public TACSFileIn {
public:
    TVorbisIn();
    ~TVorbisIn() override;

    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override;
    // Raises when the file is not a readable Ogg Vorbis file, so nothing is decoded from it.
    void Init() override;
    bool Seek(std::int32_t sampleNumber) override;

    // The user comments of the file last opened, as stored.
    std::vector<std::string> Comments() const;
    std::int32_t MaxBitrate() const { return FBitrateUpper; }
    std::int32_t NominalBitrate() const { return FBitrateNominal; }
    std::int32_t MinBitrate() const { return FBitrateLower; }

protected:
    void OpenFile() override;
    void CloseFile() override;

private:
    struct TDecoder;

    void ApplyPendingJump();
    void FillBuffer();
    void CheckSection();
    bool ReadAll(); // false when the file's links differ in format
    void ForgetFormat();

    // Stream access handed to the decoding library; the data source is the reader.
    static std::size_t ReadCallback(void* destination, std::size_t size, std::size_t count,
                                    void* source);
    static int SeekCallback(void* source, std::int64_t offset, int whence);
    static int CloseCallback(void* source);
    static long TellCallback(void* source);

    static constexpr std::int32_t kDecodeBytes = 8192;

    mutable std::mutex FCommentsLock;
    std::vector<std::string> FComments;
    std::vector<std::uint8_t> FBuffer;
    std::unique_ptr<TDecoder> FDecoder;
    int FCurrentSection = -1;
    int FCheckedSection = -1;
    std::int32_t FBitrateUpper = 0;
    std::int32_t FBitrateNominal = 0;
    std::int32_t FBitrateLower = 0;
    bool FEndOfStream = false;
};

} // namespace audio
