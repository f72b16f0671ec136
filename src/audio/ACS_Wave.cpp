#include "audio/ACS_Wave.h"

#include "audio/WaveConverter.h"
#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"
#include "bytes/WavHeader.h"
#include "platform/Log.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace audio {
namespace {

constexpr std::int64_t kScanLimit = 8192;
constexpr std::size_t kScanBufferSize = 4096;
constexpr std::int32_t kPcmBlockSize = 16384;
constexpr std::uint32_t kPcmHeaderSize = bytes::kPcmWavHeaderBytes;
constexpr std::uint32_t kImaHeaderSize = 60;
// Format tags of the "fmt " chunk besides PCM.
constexpr std::uint16_t kWaveFormatMsAdpcm = 2;
constexpr std::uint16_t kWaveFormatImaAdpcm = 17;
constexpr std::uint16_t kWaveFormatMpeg = 85;

std::int64_t StreamSize(std::istream& s) {
    s.clear();
    const auto here = s.tellg();
    s.seekg(0, std::ios::end);
    const std::int64_t size = s.tellg();
    s.seekg(here);
    return size;
}

// Reads the header a chunk at a time through one 4096-byte buffer, counting the bytes it
// has consumed; payloads longer than the buffer are skipped, not read.
class HeaderScanner {
public:
    explicit HeaderScanner(std::istream& stream) : stream_(stream) {
        size_ = StreamSize(stream_);
        stream_.clear();
        stream_.seekg(0);
    }

    std::int64_t Position() const { return position_; }
    bool Exhausted() const { return position_ >= size_ || position_ >= kScanLimit; }

    bool ReadId() { return Read(window_.data(), 4); }

    // The id after a payload of this size. An odd payload is followed by a pad byte in a
    // well-formed file, but some writers leave it out: the pad is taken only when the byte
    // there cannot begin a chunk id.
    bool ReadNextId(std::uint32_t payloadSize) {
        if (!ReadId())
            return false;
        const bool printable = window_[0] >= 0x20 && window_[0] < 0x7F;
        return (payloadSize % 2 == 0 || printable) ? true : Slide();
    }

    bool Slide() {
        std::uint8_t next = 0;
        if (!Read(&next, 1))
            return false;
        std::memmove(window_.data(), window_.data() + 1, 3);
        window_[3] = next;
        return true;
    }

    // ASCII letters match whatever their case (bytes equal or 32 apart).
    bool Matches(const char* id) const {
        for (std::size_t i = 0; i < window_.size(); ++i) {
            const int a = window_[i];
            const int b = static_cast<unsigned char>(id[i]);
            if (a != b && std::abs(a - b) != 32)
                return false;
        }
        return true;
    }

    bool ReadU32(std::uint32_t& value) {
        std::array<std::uint8_t, 4> b{};
        if (!Read(b.data(), 4))
            return false;
        value = bytes::GetLe32(b.data());
        return true;
    }

    // Reads a payload, keeping at most the buffer's worth; false when it runs past the
    // stream or the scan limit.
    bool ReadPayload(std::uint32_t size, std::span<const std::uint8_t>& kept) {
        if (position_ + size > std::min(size_, kScanLimit))
            return false;
        const std::size_t keep = std::min<std::size_t>(size, buffer_.size());
        if (!Read(buffer_.data(), keep))
            return false;
        kept = std::span(buffer_.data(), keep);
        if (size > keep) {
            position_ += static_cast<std::int64_t>(size - keep);
            stream_.seekg(position_);
        }
        return true;
    }

    bool SkipChunk() {
        std::uint32_t size = 0;
        std::span<const std::uint8_t> ignored;
        return ReadU32(size) && ReadPayload(size, ignored) && ReadNextId(size);
    }

private:
    bool Read(std::uint8_t* into, std::size_t n) {
        stream_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(n));
        const auto got = stream_.gcount();
        position_ += got;
        return static_cast<std::size_t>(got) == n;
    }

    std::istream& stream_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::array<std::uint8_t, 4> window_{};
    std::array<std::uint8_t, kScanBufferSize> buffer_{};
};

bool ParseFormat(std::span<const std::uint8_t> fmt, bool appendScan, TWaveHeader& h) {
    if (fmt.size() < bytes::kWaveFormatRecordBytes)
        return false;
    const bytes::WaveFormatRecord record = bytes::ParseWaveFormatRecord(fmt.data());
    switch (record.formatTag) {
    case bytes::kWaveFormatPcm:
        h.Type = wtPCM;
        break;
    case kWaveFormatMsAdpcm:
        h.Type = wtMSADPCM;
        break;
    case kWaveFormatImaAdpcm:
        h.Type = wtDVIADPCM;
        break;
    case kWaveFormatMpeg:
        h.Type = wtACM;
        break;
    default:
        return false;
    }
    if (appendScan && h.Type != wtPCM && h.Type != wtDVIADPCM)
        return false;
    h.Channels = record.channels;
    h.SampleRate = record.sampleRate;
    h.BlockAlign = record.blockAlign;
    h.BitsPerSample = record.bitsPerSample;
    if (h.Type == wtPCM)
        return true;
    if (fmt.size() >= 20)
        h.SamplesPerBlock = bytes::GetLe16(&fmt[18]);
    else if (h.Type != wtACM)
        return false;
    if (h.Type == wtMSADPCM) {
        if (fmt.size() < 22)
            return false;
        h.CoefficientCount = bytes::GetLe16(&fmt[20]);
        // More pairs than the table holds, or pairs beyond the chunk: not a file we read.
        if (h.CoefficientCount > adpcm::kMaxMsCoefficientPairs ||
            22u + 4u * h.CoefficientCount > fmt.size())
            return false;
        for (std::size_t i = 0; i < h.CoefficientCount; ++i)
            h.Coefficients[i] = {bytes::GetLeI16(&fmt[22 + 4 * i]),
                                 bytes::GetLeI16(&fmt[24 + 4 * i])};
    }
    return true;
}

} // namespace

TWaveHeader ScanWaveHeader(std::istream& stream, bool appendScan) {
    enum class Expect { Riff, Wave, Fmt, Fact, Data };
    HeaderScanner scan(stream);
    TWaveHeader found;
    const TWaveHeader unsupported;
    if (!scan.ReadId())
        return unsupported;
    Expect state = Expect::Riff;
    for (;;) {
        bool ok = true;
        switch (state) {
        case Expect::Riff:
            if (scan.Matches("RIFF")) {
                ok = scan.ReadId(); // the RIFF size, ignored; "WAVE" slides into view
                state = Expect::Wave;
            } else {
                ok = scan.Slide();
            }
            break;
        case Expect::Wave:
            if (scan.Matches("WAVE")) {
                ok = scan.ReadId();
                state = Expect::Fmt;
            } else {
                ok = scan.Slide();
            }
            break;
        case Expect::Fmt:
            if (scan.Matches("fmt ")) {
                std::uint32_t size = 0;
                std::span<const std::uint8_t> fmt;
                if (!scan.ReadU32(size) || !scan.ReadPayload(size, fmt) ||
                    !ParseFormat(fmt, appendScan, found))
                    return unsupported;
                ok = scan.ReadNextId(size);
                state = found.Type == wtPCM ? Expect::Data : Expect::Fact;
            } else {
                ok = scan.SkipChunk();
            }
            break;
        case Expect::Fact:
            if (scan.Matches("fact")) {
                std::uint32_t size = 0;
                std::span<const std::uint8_t> fact;
                ok = scan.ReadU32(size);
                found.FactOffset = bytes::ClampU32(scan.Position());
                ok = ok && scan.ReadPayload(size, fact);
                if (ok && fact.size() >= 4) {
                    found.HasFact = true;
                    found.FactSamples = bytes::GetLe32(fact.data());
                }
                ok = ok && scan.ReadNextId(size);
                state = Expect::Data;
            } else {
                ok = scan.SkipChunk();
            }
            break;
        case Expect::Data:
            if (scan.Matches("data")) {
                found.DataSizeOffset = bytes::ClampU32(scan.Position());
                if (!scan.ReadU32(found.DataSize))
                    return unsupported;
                found.DataOffset = bytes::ClampU32(scan.Position());
                return found;
            }
            ok = scan.SkipChunk();
            break;
        }
        if (!ok || scan.Exhausted())
            return unsupported;
    }
}

// ---- TWaveIn ---------------------------------------------------------------------------------

TWaveIn::TWaveIn() : FBuffer(kPcmBlockSize) {}

TWaveIn::~TWaveIn() {
    DetachUsers();
}

TWavType TWaveIn::WavType() {
    std::lock_guard lock(FFileLock);
    OpenFile();
    const TWavType type = FWavType;
    CloseFile();
    return type;
}

std::int32_t TWaveIn::FrameBytes() const {
    return std::max(1, (FBitsPerSample / 8) * std::max(1, FChannels));
}

void TWaveIn::OpenFile() {
    std::lock_guard lock(FFileLock);
    if (FOpenCount == 0) {
        auto file = std::make_unique<std::fstream>(FFileName, std::ios::in | std::ios::binary);
        if (!file->is_open())
            throw EACSException("Cannot open file \"" + FFileName + "\"");
        FStream = std::move(file);
        FValid = true;
        ParseOpenedFile();
        if (!FStream) // a compressed file that could not be converted is not counted
            return;
    }
    ++FOpenCount;
}

void TWaveIn::CloseFile() {
    std::lock_guard lock(FFileLock);
    if (FOpenCount == 1) {
        FStream.reset();
        FFileStream.reset();
    }
    if (FOpenCount > 0)
        --FOpenCount;
}

void TWaveIn::ParseOpenedFile() {
    FHeader = ScanWaveHeader(*FStream, false);
    FWavType = FHeader.Type;
    FChannels = FHeader.Channels;
    FSampleRate = static_cast<std::int32_t>(std::min<std::uint32_t>(FHeader.SampleRate, INT_MAX));
    FBitsPerSample = FHeader.BitsPerSample;
    FSize = 0;
    FTotalSamples = 0;
    FSkipFrames = 0;
    FSamplesPerBlock = 0;
    const std::int64_t available =
        std::max<std::int64_t>(0, StreamSize(*FStream) - FHeader.DataOffset);
    // A data chunk that claims more than the file holds is read for what is there.
    const std::int64_t dataBytes = std::min<std::int64_t>(FHeader.DataSize, available);
    FDataEnd = FHeader.DataOffset + dataBytes;
    const bool formatOk = FChannels > 0 && FSampleRate > 0;
    const bool oneOrTwo = FChannels == 1 || FChannels == 2;

    switch (FWavType) {
    case wtUnsupported:
        FValid = false;
        break;
    case wtPCM: {
        FValid = formatOk && (FBitsPerSample == 8 || FBitsPerSample == 16);
        if (!FValid)
            break;
        const std::int64_t bytes = std::min<std::int64_t>(dataBytes, INT_MAX);
        FSize = static_cast<std::int32_t>(bytes - bytes % FrameBytes());
        FTotalSamples = FSize / FrameBytes();
        break;
    }
    case wtDVIADPCM:
    case wtMSADPCM: {
        const bool ima = FWavType == wtDVIADPCM;
        FSamplesPerBlock = ima ? static_cast<std::uint32_t>(
                                     adpcm::ImaFramesPerBlock(FHeader.BlockAlign, FChannels))
                               : FHeader.SamplesPerBlock;
        const std::size_t headerBytes =
            (ima ? adpcm::kImaHeaderBytesPerChannel : adpcm::kMsHeaderBytesPerChannel) *
            static_cast<std::size_t>(std::max(0, FChannels));
        const std::size_t needed =
            ima ? headerBytes + 1
                : headerBytes + adpcm::MsPayloadBytes(FSamplesPerBlock, FChannels);
        FValid = formatOk && oneOrTwo && FSamplesPerBlock >= 2 && FHeader.BlockAlign >= needed &&
                 (!ima || FBitsPerSample == 4) && (ima || FHeader.CoefficientCount > 0);
        FBitsPerSample = 16;
        if (!FValid)
            break;
        const std::int64_t blocks = (dataBytes + FHeader.BlockAlign - 1) / FHeader.BlockAlign;
        const std::int64_t frames = std::min<std::int64_t>(
            {FHeader.FactSamples, blocks * FSamplesPerBlock, INT_MAX / (2 * FChannels)});
        FTotalSamples = static_cast<std::int32_t>(frames);
        FSize = FTotalSamples * 2 * FChannels;
        FBlock.resize(FHeader.BlockAlign);
        FSamples.resize(
            static_cast<std::size_t>(FSamplesPerBlock) * static_cast<std::size_t>(FChannels) + 2);
        FBuffer.resize(std::max<std::size_t>(kPcmBlockSize, FSamples.size() * 2));
        break;
    }
    case wtACM:
        ParseCompressed();
        break;
    }
    if (!FValid) {
        FSize = 0;
        FTotalSamples = 0;
    }
}

namespace {

// The identity of the file now under the name: the same name, inode, size and time of last
// change mean the same bytes as far as a cached decode is concerned.
bool SameFile(const std::string& name, std::uint64_t& device, std::uint64_t& inode,
              std::int64_t& bytes, std::int64_t& modifiedNs) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0)
        return false;
    device = st.st_dev;
    inode = st.st_ino;
    bytes = st.st_size;
    modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

} // namespace

void TWaveIn::ParseCompressed() {
    TCompressedFacts now;
    now.Name = FFileName;
    const bool known = SameFile(FFileName, now.Device, now.Inode, now.Bytes, now.ModifiedNs);
    const auto& seen = FCompressedFacts;
    if (known && !FOpeningForRun && seen && seen->Name == now.Name && seen->Device == now.Device &&
        seen->Inode == now.Inode && seen->Bytes == now.Bytes &&
        seen->ModifiedNs == now.ModifiedNs) {
        // A format query: the file's own stream stays open, nothing is decoded.
        FValid = seen->Valid;
        FWavType = seen->Valid ? wtACM : wtUnsupported;
        FChannels = seen->Channels;
        FSampleRate = seen->SampleRate;
        FBitsPerSample = seen->BitsPerSample;
        FSize = seen->Size;
        FTotalSamples = FSize / FrameBytes();
        if (!FValid)
            FStream.reset();
        return;
    }
    ++FDecodes;
    if (!ConvertCompressed()) {
        FValid = false;
        FWavType = wtUnsupported;
        FStream.reset();
        FFileStream.reset();
    }
    now.Valid = FValid;
    now.Channels = FChannels;
    now.SampleRate = FSampleRate;
    now.BitsPerSample = FBitsPerSample;
    now.Size = FValid ? FSize.load() : 0;
    if (known)
        FCompressedFacts = now;
}

bool TWaveIn::ConvertCompressed() {
    try {
        TWaveConverter converter;
        FStream->clear();
        FStream->seekg(0);
        converter.LoadFromWaveStream(*FStream);
        converter.TargetFormat.SetFormatTag(WAVE_FORMAT_PCM);
        if (acmFormatSuggest(nullptr, &converter.SourceFormat, &converter.TargetFormat,
                             kWaveFormatAreaSize,
                             ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR ||
            converter.Convert() != MMSYSERR_NOERROR)
            return false;
        auto memory =
            std::make_unique<std::stringstream>(std::ios::in | std::ios::out | std::ios::binary);
        if (converter.SaveWavToStream(*memory) != 0)
            return false;
        FFileStream = std::move(FStream);
        FStream = std::move(memory);
        FHeader = ScanWaveHeader(*FStream, false);
        if (FHeader.Type != wtPCM || FHeader.Channels == 0)
            return false;
        FChannels = FHeader.Channels;
        FSampleRate = static_cast<std::int32_t>(FHeader.SampleRate);
        FBitsPerSample = FHeader.BitsPerSample;
        FDataEnd = FHeader.DataOffset + std::int64_t{FHeader.DataSize};
        const std::int64_t bytes = std::min<std::int64_t>(FHeader.DataSize, INT_MAX);
        FSize = static_cast<std::int32_t>(bytes - bytes % FrameBytes());
        FTotalSamples = FSize / FrameBytes();
        FWavType = wtACM;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TWaveIn::Init() {
    std::lock_guard lock(FFileLock);
    FSkipFrames = 0;
    // A run needs the decoded sound, not just the facts a format query keeps.
    FOpeningForRun = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{FOpeningForRun};
    TACSFileIn::Init();
    // A restart while another open keeps the file open would otherwise go on from where
    // the last pass ended.
    if (FStartSample == 0)
        Seek(0);
}

bool TWaveIn::Seek(std::int32_t sampleNumber) {
    std::lock_guard lock(FFileLock);
    OpenFile();
    bool ok = false;
    if (FStream && sampleNumber >= 0) {
        std::int64_t offset = -1;
        if (FWavType == wtPCM || FWavType == wtACM) {
            offset = FHeader.DataOffset + std::int64_t{sampleNumber} * FrameBytes();
        } else if ((FWavType == wtDVIADPCM || FWavType == wtMSADPCM) && FSamplesPerBlock > 0) {
            const auto sample = static_cast<std::uint32_t>(sampleNumber); // >= 0, checked above
            offset =
                FHeader.DataOffset + std::int64_t{sample / FSamplesPerBlock} * FHeader.BlockAlign;
            // Delivery starts at the sample itself, not at the start of its block.
            FSkipFrames = sample % FSamplesPerBlock;
        }
        if (offset >= 0) {
            FStream->clear();
            FStream->seekg(offset);
            ok = true;
        }
    }
    CloseFile();
    return ok;
}

std::int32_t TWaveIn::GetData(void* buffer, std::int32_t bufferSize) {
    if (!FBusy)
        throw EACSException("The Stream is not opened");
    if (bufferSize <= 0)
        return 0;
    while (FBufferStart > FBufferEnd) {
        if (!Refill())
            return 0;
    }
    const std::int32_t n = std::min(bufferSize, FBufferEnd - FBufferStart + 1);
    std::memcpy(buffer, FBuffer.data() + (FBufferStart - 1), static_cast<std::size_t>(n));
    FBufferStart += n;
    FPosition += n;
    return n;
}

bool TWaveIn::Refill() {
    const bool pcm = FWavType == wtPCM || FWavType == wtACM;
    if (!FStream || (!pcm && FWavType != wtDVIADPCM && FWavType != wtMSADPCM))
        return false;
    // At the end of the data a looping reader starts over, once per refill.
    for (int pass = 0; pass < 2; ++pass) {
        if (FPendingJump != 0)
            pcm ? ApplyPcmJump() : ApplyAdpcmJump();
        if (pcm ? ReadPcmBlock() : FPosition < FSize && ReadAdpcmBlock())
            return true;
        if (!FLoop || pass == 1)
            return false;
        Flush();
        Init();
    }
    return false;
}

void TWaveIn::ApplyPcmJump() {
    const std::int64_t size = FSize;
    std::int64_t target = FPosition + std::llround(static_cast<double>(FPendingJump) *
                                                   static_cast<double>(size) / 100.0);
    target = std::clamp<std::int64_t>(target, 0, std::max<std::int64_t>(size, 0));
    target -= target % FrameBytes();
    FPosition = static_cast<std::int32_t>(target);
    FStream->clear();
    FStream->seekg(FHeader.DataOffset + std::int64_t{FStartSample} * FrameBytes() + target);
    FPendingJump = 0;
}

bool TWaveIn::ReadPcmBlock() {
    const std::int64_t left = std::int64_t{FSize} - FPosition;
    if (left <= 0)
        return false;
    FStream->read(reinterpret_cast<char*>(FBuffer.data()),
                  std::min<std::int64_t>(kPcmBlockSize, left));
    const std::int64_t count = FStream->gcount();
    if (count <= 0)
        return false;
    FBufferStart = 1;
    FBufferEnd = static_cast<std::int32_t>(count);
    return true;
}

void TWaveIn::ApplyAdpcmJump() {
    const std::int64_t frameBytes = 2 * std::int64_t{FChannels};
    const std::int64_t first = FStartSample;
    const std::int64_t last = first + std::max<std::int64_t>(FSize, 0) / frameBytes;
    const std::int64_t current = first + FPosition / frameBytes;
    const std::int64_t target = std::clamp<std::int64_t>(
        current + std::llround(static_cast<double>(FPendingJump) * FTotalSamples / 100.0), first,
        last);
    Seek(static_cast<std::int32_t>(target));
    FPosition = static_cast<std::int32_t>((target - first) * frameBytes);
    FPendingJump = 0;
}

bool TWaveIn::ReadAdpcmBlock() {
    FStream->clear();
    const std::int64_t at = FStream->tellg();
    if (at < 0 || at >= FDataEnd)
        return false;
    const auto n =
        static_cast<std::size_t>(std::min<std::int64_t>(FHeader.BlockAlign, FDataEnd - at));
    FStream->read(reinterpret_cast<char*>(FBlock.data()), static_cast<std::streamsize>(n));
    const auto got = static_cast<std::size_t>(FStream->gcount());
    const auto block = std::span<const std::uint8_t>(FBlock.data(), got);
    const std::size_t headerBytes = static_cast<std::size_t>(FChannels) *
                                    (FWavType == wtDVIADPCM ? adpcm::kImaHeaderBytesPerChannel
                                                            : adpcm::kMsHeaderBytesPerChannel);
    if (got <= headerBytes) // a fragment at the very end of a cut file
        return false;
    const adpcm::DecodeResult result =
        FWavType == wtDVIADPCM
            ? adpcm::DecodeImaBlock(block, FChannels, FSamples)
            : adpcm::DecodeMsBlock(block, FChannels, FSamplesPerBlock,
                                   std::span(FHeader.Coefficients).first(FHeader.CoefficientCount),
                                   FSamples);
    if (result.status != adpcm::BlockStatus::Ok)
        throw EACSException("Cannot decode \"" + FFileName +
                            "\": " + adpcm::DescribeStatus(result.status));
    const std::int64_t frameBytes = 2 * std::int64_t{FChannels};
    const std::int64_t skip =
        std::min<std::int64_t>(FSkipFrames, static_cast<std::int64_t>(result.frames));
    FSkipFrames -= skip;
    // The last block is cut to the sample count the file declares.
    const std::int64_t frames = std::min<std::int64_t>(
        static_cast<std::int64_t>(result.frames) - skip, (FSize - FPosition) / frameBytes);
    const std::int16_t* from = FSamples.data() + skip * FChannels;
    std::uint8_t* to = FBuffer.data();
    for (std::int64_t i = 0; i < frames * FChannels; ++i, to += 2) {
        bytes::PutLeI16(to, from[i]);
    }
    FBufferStart = 1;
    FBufferEnd = static_cast<std::int32_t>(std::max<std::int64_t>(frames, 0) * frameBytes);
    return true;
}

// ---- TWaveOut --------------------------------------------------------------------------------

TWaveOut::TWaveOut() : FBuffer(kPcmBlockSize) {}

TWaveOut::~TWaveOut() {
    ShutdownWorker();
}

void TWaveOut::SetWavType(TWavType value) {
    if (!FBusy && (value == wtPCM || value == wtDVIADPCM))
        FWavType = value;
}

void TWaveOut::SetBlockSize(std::uint16_t value) {
    if (!FBusy && value != 0 && value % 4 == 0)
        FBlockSize = value;
}

std::uint32_t TWaveOut::ImaSamplesPerBlock() const {
    return static_cast<std::uint32_t>(adpcm::ImaFramesPerBlock(FBlockSize, FChannels));
}

void TWaveOut::OpenDestination(bool append) {
    const auto mode = std::ios::in | std::ios::out | std::ios::binary;
    auto file = std::make_unique<std::fstream>(FFileName, append ? mode : mode | std::ios::trunc);
    if (!file->is_open())
        throw EACSException("Cannot open \"" + FFileName + "\" for writing");
    FStream = std::move(file);
}

void TWaveOut::Refuse(const char* message) {
    throw EACSException(message);
}

void TWaveOut::Prepare() {
    FEndReached = false;
    FAppending = false;
    FFramesWritten = 0;
    FIma = {};
    if (FFileName.empty())
        throw EACSException("File name is not assigned.");
    std::error_code ec;
    const bool append = FFileMode != foRewrite && std::filesystem::exists(FFileName, ec);
    OpenDestination(append);
    try {
        FInput.load()->Init();
    } catch (...) {
        FStream.reset();
        throw;
    }
    // Whatever refuses the run from here on releases the input and the file first.
    try {
        PrepareFormat(append);
    } catch (...) {
        FStream.reset();
        FlushInput();
        throw;
    }
}

void TWaveOut::PrepareFormat(bool append) {
    TACSInput* input = FInput.load();
    FChannels = input->Channels();
    if (append && StreamSize(*FStream) > 0)
        PrepareAppend();
    const std::int32_t rate = input->SampleRate();
    const std::int32_t bits = input->BitsPerSample();
    if (FWavType == wtPCM) {
        if (!FAppending) {
            WritePcmHeader();
            return;
        }
        if (FExisting.SampleRate != static_cast<std::uint32_t>(rate) ||
            FExisting.BitsPerSample != bits || FExisting.Channels != FChannels)
            Refuse("Cannot append data in different audio format.");
        return;
    }
    if (bits != 16)
        Refuse("Cannot encode 8 bit sound into ADPCM.");
    if (FChannels != 1 && FChannels != 2)
        Refuse("Cannot encode more than two channels into ADPCM.");
    if (FAppending && (FExisting.SampleRate != static_cast<std::uint32_t>(rate) ||
                       FExisting.Channels != FChannels))
        Refuse("Cannot append data in different audio format.");
    // Stereo blocks hold whole 8-byte groups after the two headers.
    const bool blockFits =
        FChannels == 1 ? FBlockSize > 4 : FBlockSize >= 16 && FBlockSize % 8 == 0;
    if (!blockFits)
        Refuse("The ADPCM block size does not suit the number of channels.");
    const std::size_t frames = ImaSamplesPerBlock();
    const auto channels = static_cast<std::size_t>(FChannels);
    FInputBlock.assign(frames * channels * 2, 0);
    FBlockSamples.assign(frames * channels, 0);
    FEncoded.assign(FBlockSize, 0);
    if (!FAppending)
        WriteImaHeader();
}

void TWaveOut::PrepareAppend() {
    FExisting = ScanWaveHeader(*FStream, true);
    if (FExisting.Type != wtPCM && FExisting.Type != wtDVIADPCM)
        Refuse("Cannot append data to this .wav file.");
    const std::int64_t fileSize = StreamSize(*FStream);
    const std::int64_t dataEnd = std::int64_t{FExisting.DataOffset} + FExisting.DataSize;
    // New audio goes right after the old: refuse when other chunks follow the data, as they
    // would end up inside it (a single pad byte is overwritten).
    if (dataEnd + 1 < fileSize)
        Refuse("Cannot append data to this .wav file.");
    std::int64_t unit = 1;
    if (FExisting.Type == wtPCM) {
        unit = std::max(1, FExisting.Channels * (FExisting.BitsPerSample / 8));
    } else {
        if (FExisting.BlockAlign == 0 || !FExisting.HasFact)
            Refuse("Cannot append data to this .wav file.");
        FBlockSize = FExisting.BlockAlign;
        unit = FBlockSize;
    }
    FWavType = FExisting.Type;
    FAppending = true;
    // Whole frames (or blocks) only: a cut-off tail is overwritten.
    std::int64_t length = std::min(dataEnd, fileSize) - FExisting.DataOffset;
    length -= length % unit;
    FStream->clear();
    FStream->seekp(FExisting.DataOffset + length);
}

void TWaveOut::WritePcmHeader() {
    TACSInput* input = FInput.load();
    const std::int32_t size = input->Size();
    const auto channels = static_cast<std::uint16_t>(FChannels);
    const auto rate = static_cast<std::uint32_t>(input->SampleRate());
    const auto bits = static_cast<std::uint16_t>(input->BitsPerSample());
    const std::uint32_t dataSize = size < 0 ? 0 : static_cast<std::uint32_t>(size);
    const auto h =
        bytes::PcmWavHeader(bytes::WaveFormatRecord::Pcm(channels, rate, bits), dataSize);
    WriteOrRaise(h.data(), h.size());
}

void TWaveOut::WriteImaHeader() {
    TACSInput* input = FInput.load();
    const auto rate = static_cast<std::uint32_t>(input->SampleRate());
    const std::uint32_t samplesPerBlock = ImaSamplesPerBlock();
    const std::int64_t size = std::max(0, input->Size());
    const std::int64_t frames = size / 2 / FChannels;
    const auto blocks =
        static_cast<std::int64_t>(std::nearbyint(static_cast<double>(frames) / samplesPerBlock));
    const bytes::WaveFormatRecord format{kWaveFormatImaAdpcm,
                                         static_cast<std::uint16_t>(FChannels),
                                         rate,
                                         rate / samplesPerBlock * FBlockSize,
                                         FBlockSize,
                                         4};
    std::vector<std::uint8_t> h;
    bytes::AppendChunkHeader(h, "RIFF", bytes::ClampU32(blocks * FBlockSize + 52));
    bytes::AppendId(h, "WAVE");
    bytes::AppendChunkHeader(h, "fmt ", 20);
    bytes::AppendWaveFormatRecord(h, format);
    bytes::AppendLe16(h, 2); // the size of what follows the record
    bytes::AppendLe16(h, static_cast<std::uint16_t>(samplesPerBlock));
    bytes::AppendChunkHeader(h, "fact", 4);
    bytes::AppendLe32(h, bytes::ClampU32(frames));
    bytes::AppendChunkHeader(h, "data", bytes::ClampU32(blocks * FBlockSize));
    WriteOrRaise(h.data(), h.size());
}

void TWaveOut::WriteOrRaise(const void* data, std::size_t size) {
    FStream->write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!*FStream)
        throw EACSException("Cannot write to \"" + FFileName + "\"");
}

bool TWaveOut::OutputStep(bool Abort) {
    if (!FOutputEnabled)
        return true;
    CheckProgress();
    if (Abort || FEndReached)
        return false;
    return FWavType == wtDVIADPCM ? ImaStep() : PcmStep();
}

bool TWaveOut::PcmStep() {
    const std::int32_t n = ReadInput(FBuffer.data(), kPcmBlockSize);
    if (n > 0)
        WriteOrRaise(FBuffer.data(), static_cast<std::size_t>(n));
    return n > 0;
}

bool TWaveOut::ImaStep() {
    std::fill(FInputBlock.begin(), FInputBlock.end(), std::uint8_t{0});
    std::size_t got = 0;
    while (got < FInputBlock.size()) {
        const std::int32_t n = ReadInput(FInputBlock.data() + got,
                                         static_cast<std::int32_t>(FInputBlock.size() - got));
        if (n <= 0) {
            FEndReached = true;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    FFramesWritten += static_cast<std::int64_t>(got / (2 * static_cast<std::size_t>(FChannels)));
    for (std::size_t i = 0; i < FBlockSamples.size(); ++i)
        FBlockSamples[i] = bytes::GetLeI16(&FInputBlock[2 * i]);
    const auto channels = std::span(FIma).first(static_cast<std::size_t>(FChannels));
    if (adpcm::EncodeImaBlock(FBlockSamples, channels, FEncoded) != adpcm::BlockStatus::Ok)
        throw EACSException("Cannot encode an ADPCM block");
    WriteOrRaise(FEncoded.data(), FEncoded.size());
    return true;
}

// The sizes are set from what is really in the file, so a stopped or failed run, or an
// input that delivered more or less than it announced, still leaves a consistent header.
void TWaveOut::CorrectHeader() {
    auto putAt = [this](std::int64_t at, std::uint32_t value) {
        FStream->seekp(at);
        bytes::WriteLe32(*FStream, value);
    };
    FStream->clear();
    FStream->seekp(0, std::ios::end);
    const std::int64_t fileSize = FStream->tellp();
    if (fileSize < 8)
        return;
    if (FWavType == wtPCM) {
        if (FAppending)
            putAt(FExisting.DataSizeOffset, bytes::ClampU32(fileSize - FExisting.DataOffset));
        else
            putAt(bytes::kPcmDataSizeOffset, bytes::ClampU32(fileSize - kPcmHeaderSize));
    } else if (FAppending) {
        const std::int64_t dataSize = fileSize - FExisting.DataOffset;
        putAt(FExisting.DataSizeOffset, bytes::ClampU32(dataSize));
        putAt(FExisting.FactOffset,
              bytes::ClampU32(ImaSamplesPerBlock() * (dataSize / FBlockSize)));
    } else {
        putAt(56, bytes::ClampU32(fileSize - kImaHeaderSize));
        putAt(48, bytes::ClampU32(FFramesWritten));
    }
    putAt(bytes::kRiffSizeOffset, bytes::ClampU32(fileSize - 8));
}

void TWaveOut::Finish() {
    if (FStream) {
        try {
            CorrectHeader();
            FStream->flush();
        } catch (const std::exception&) {
            // The file is closed below whatever happened.
            platform::LogSwallowedException("WAV writer: correcting the header of " + FFileName);
        }
        FStream.reset();
    }
    FlushInput();
}

} // namespace audio
