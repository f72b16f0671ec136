#pragma once
// WAV files in the pipeline: TWaveIn reads PCM, IMA ADPCM, Microsoft ADPCM and MPEG layer 3
// (through TWaveConverter) and delivers 8- or 16-bit PCM; TWaveOut writes PCM or IMA ADPCM,
// new or appended to an existing file of the same format.
//
// Threads: both run on the worker of the sink at the end of the chain during a run (see
// ACS_Classes.h); the reader's format queries may come from the GUI thread while it is idle.
// Failures: bad or unsupported files make the reader not Valid; a block that cannot be
// decoded mid-stream raises EACSException from GetData. The writer raises from Prepare for
// refused runs and from a step when the file cannot be written.
#include "audio/ACS_Classes.h"
#include "audio/adpcm.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace audio {

enum TWavType : std::uint8_t { wtUnsupported, wtPCM, wtDVIADPCM, wtMSADPCM, wtACM };

// What the header scan found. Offsets are from the start of the stream.
struct TWaveHeader {
    TWavType Type = wtUnsupported;
    std::uint16_t Channels = 0;
    std::uint32_t SampleRate = 0;
    std::uint16_t BlockAlign = 0;
    std::uint16_t BitsPerSample = 0;
    std::uint16_t SamplesPerBlock = 0;
    std::uint16_t CoefficientCount = 0; // as declared; only the first 32 are stored
    std::array<adpcm::MsCoefficientPair, adpcm::kMaxMsCoefficientPairs> Coefficients{};
    bool HasFact = false;
    std::uint32_t FactSamples = 0;
    std::uint32_t FactOffset = 0; // of the fact sample count
    std::uint32_t DataSize = 0;
    std::uint32_t DataSizeOffset = 0; // of the data size field
    std::uint32_t DataOffset = 0;     // of the first data byte
};

// The sliding header scan shared by the reader and the appending writer: chunk identifiers
// match without regard to ASCII case, junk before "WAVE" is slid over, chunks that are not
// expected are skipped, and the scan gives up (wtUnsupported) at the end of the stream or
// after 8192 bytes. appendScan accepts PCM and IMA ADPCM only. Leaves the stream at the first
// data byte on success.
TWaveHeader ScanWaveHeader(std::istream& stream, bool appendScan);

// ---------------------------------------------------------------------------------------------
class TWaveIn : public TACSFileIn {
public:
    TWaveIn();
    ~TWaveIn() override;

    TWavType WavType();
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override;
    void Init() override;
    bool Seek(std::int32_t sampleNumber) override;
    // How many times this reader has decoded a compressed (MPEG layer 3) file. A decode
    // costs the whole file, so format queries reuse what the last one of the same, unchanged
    // file found; only a run decodes again.
    std::int32_t Decodes() const { return FDecodes; }

protected:
    void OpenFile() override;
    void CloseFile() override;

private:
    void ParseOpenedFile();
    void ParseCompressed();
    bool ConvertCompressed();
    // One refill of the decode buffer; false at the end of the data.
    bool Refill();
    bool ReadPcmBlock();
    bool ReadAdpcmBlock();
    void ApplyPcmJump();
    void ApplyAdpcmJump();
    std::int32_t FrameBytes() const;

    std::vector<std::uint8_t> FBuffer; // decoded PCM, 16384 bytes or one ADPCM block's worth
    std::vector<std::uint8_t> FBlock;  // one ADPCM block as read
    std::vector<std::int16_t> FSamples;
    TWavType FWavType = wtUnsupported;
    TWaveHeader FHeader;
    std::uint32_t FSamplesPerBlock = 0;
    std::int64_t FDataEnd = 0;    // end of the data payload actually present in the stream
    std::int64_t FSkipFrames = 0; // frames to drop from the next block (seek inside a block)
    std::unique_ptr<std::iostream> FFileStream; // the file, while a memory stream stands in

    // What decoding a compressed file found, and which file it was (name, inode, size and
    // modification time), so that format queries of the same file need no decode.
    struct TCompressedFacts {
        std::string Name;
        std::uint64_t Device = 0, Inode = 0;
        std::int64_t Bytes = 0, ModifiedNs = 0;
        bool Valid = false;
        std::int32_t Channels = 0, SampleRate = 0, BitsPerSample = 0, Size = 0;
    };
    std::optional<TCompressedFacts> FCompressedFacts;
    bool FOpeningForRun = false;
    std::int32_t FDecodes = 0;
};

// ---------------------------------------------------------------------------------------------
class TWaveOut : public TACSFileOut {
public:
    TWaveOut();
    ~TWaveOut() override;

    void SetFileMode(TFileOutputMode value) override { FFileMode = value; }
    TWavType WavType() const { return FWavType; }
    // Only wtPCM and wtDVIADPCM, and not while Busy.
    void SetWavType(TWavType value);
    std::uint16_t BlockSize() const { return FBlockSize; }
    // Not while Busy, not 0, and only multiples of 4.
    void SetBlockSize(std::uint16_t value);

protected:
    bool OutputStep(bool Abort) override;
    void Finish() override;
    void Prepare() override;

private:
    void OpenDestination(bool append);
    [[noreturn]] void Refuse(const char* message);
    void PrepareFormat(bool append);
    void PrepareAppend();
    void WritePcmHeader();
    void WriteImaHeader();
    bool PcmStep();
    bool ImaStep();
    void WriteOrRaise(const void* data, std::size_t size);
    void CorrectHeader();
    std::uint32_t ImaSamplesPerBlock() const;

    bool FEndReached = false;
    std::vector<std::uint8_t> FBuffer;
    TWavType FWavType = wtPCM;
    std::array<adpcm::ImaChannel, 2> FIma{};
    std::int32_t FChannels = 0;
    bool FAppending = false;
    TWaveHeader FExisting;
    std::uint16_t FBlockSize = 512;
    std::int64_t FFramesWritten = 0;
    std::vector<std::uint8_t> FInputBlock;
    std::vector<std::int16_t> FBlockSamples;
    std::vector<std::uint8_t> FEncoded;
};

} // namespace audio
