#include "audio/WaveConverter.h"

#include "bytes/Riff.h"
#include "bytes/WavHeader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <ostream>
#include <string_view>

namespace audio {
namespace {

constexpr int kSaveFailed = 286;

bool ReadAt(std::istream& in, std::int64_t at, uint8_t* buffer, std::size_t n) {
    in.clear();
    in.seekg(at);
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in.gcount()) == n;
}

bool LooksLikeChunkId(const uint8_t* id) {
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// Closes what Convert opened, whatever happened in between.
class StreamCloser {
public:
    explicit StreamCloser(HACMSTREAM handle) : handle_(handle) {}
    ~StreamCloser() {
        if (handle_ != 0)
            acmStreamClose(handle_, 0);
    }
    MMRESULT Close() {
        const MMRESULT rc = acmStreamClose(handle_, 0);
        handle_ = 0;
        return rc;
    }
    StreamCloser(const StreamCloser&) = delete;
    StreamCloser& operator=(const StreamCloser&) = delete;

private:
    HACMSTREAM handle_;
};

} // namespace

TWaveConverter::TWaveConverter() {
    uint32_t maxSize = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize) != MMSYSERR_NOERROR)
        maxSize = 0;
    // The format areas are fixed in size whatever the codecs report.
    FMaxFormatSize = std::min<uint32_t>(maxSize, kWaveFormatAreaSize);
    SourceFormat.Bytes.fill(0);
    TargetFormat.Bytes.fill(0);
}

void TWaveConverter::SetSize(std::int64_t value) {
    FData.resize(static_cast<std::size_t>(std::max<std::int64_t>(value, 0)));
    FPosition = std::min<std::int64_t>(FPosition, Size());
}

void TWaveConverter::Assign(std::vector<uint8_t> data) {
    FData = std::move(data);
    FPosition = 0;
}

int TWaveConverter::LoadFromWaveStream(std::istream& stream) {
    const std::int64_t base = stream.tellg();
    stream.seekg(0, std::ios::end);
    const std::int64_t size = static_cast<std::int64_t>(stream.tellg()) - base;
    std::array<uint8_t, 12> head{};
    if (base < 0 || size < 12 || !ReadAt(stream, base, head.data(), head.size()) ||
        !bytes::IdIs(head.data(), "RIFF") || !bytes::IdIs(head.data() + 8, "WAVE")) {
        stream.clear();
        stream.seekg(base);
        return 0;
    }
    // Walk the chunks by their sizes; where a size cannot be right (or the identifier is not
    // text) slide one byte on, so stray padding bytes and odd layouts still resynchronise.
    std::int64_t p = 12;
    std::array<uint8_t, bytes::kChunkHeaderBytes> raw{};
    while (p + 8 <= size && ReadAt(stream, base + p, raw.data(), raw.size())) {
        const bytes::ChunkHeader chunk = bytes::ParseChunkHeader(raw.data());
        const std::int64_t chunkSize = chunk.size;
        const std::int64_t available = std::min(chunkSize, size - p - 8);
        if (chunk.Is("fmt ")) {
            SourceFormat.Bytes.fill(0);
            const auto n =
                static_cast<std::size_t>(std::min<std::int64_t>(available, kWaveFormatAreaSize));
            if (!ReadAt(stream, base + p + 8, SourceFormat.Bytes.data(), n))
                break;
            p += 8 + available;
        } else if (chunk.Is("data")) {
            if (available > 0) {
                FData.resize(static_cast<std::size_t>(available));
                if (!ReadAt(stream, base + p + 8, FData.data(), FData.size())) {
                    FData.clear();
                    break;
                }
                break;
            }
            p += 8;
        } else if (chunk.Is("fact") ||
                   (LooksLikeChunkId(chunk.id.data()) && chunkSize == available)) {
            p += 8 + available;
        } else {
            p += 1;
        }
    }
    FPosition = 0;
    stream.clear();
    return 0;
}

MMRESULT TWaveConverter::Convert() {
    HACMSTREAM handle = 0;
    MMRESULT rc = acmStreamOpen(&handle, nullptr, &SourceFormat, &TargetFormat, nullptr, 0, 0,
                                ACM_STREAMOPENF_NONREALTIME);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    StreamCloser closer(handle);
    if (FData.size() > UINT32_MAX)
        return ACMERR_NOTPOSSIBLE;
    const auto held = static_cast<uint32_t>(FData.size());
    uint32_t destinationSize = 0;
    rc = acmStreamSize(handle, held, &destinationSize, ACM_STREAMSIZEF_SOURCE, FData.data());
    if (rc != MMSYSERR_NOERROR)
        return rc;
    std::vector<uint8_t> destination(destinationSize, 0);
    FPosition = 0;

    ACMSTREAMHEADER header;
    header.cbStruct = sizeof(ACMSTREAMHEADER);
    header.pbSrc = FData.data();
    header.cbSrcLength = held;
    header.pbDst = destination.data();
    header.cbDstLength = destinationSize;
    rc = acmStreamPrepareHeader(handle, &header, 0);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    rc = acmStreamConvert(handle, &header, ACM_STREAMCONVERTF_BLOCKALIGN);
    if (rc != MMSYSERR_NOERROR) {
        acmStreamUnprepareHeader(handle, &header, 0);
        return rc;
    }
    std::copy_n(TargetFormat.Bytes.begin(), FMaxFormatSize, SourceFormat.Bytes.begin());
    // Only what the codec produced: no silent tail.
    destination.resize(header.cbDstLengthUsed);
    Assign(std::move(destination));
    rc = acmStreamUnprepareHeader(handle, &header, 0);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    return closer.Close();
}

int TWaveConverter::SaveWavToStream(std::iostream& target) {
    const std::int64_t remembered = FPosition;
    if (FData.size() > UINT32_MAX - 36)
        return kSaveFailed;
    target.exceptions(std::ios::goodbit);
    bytes::WriteChunkHeader(target, "RIFF", 0);
    bytes::WriteId(target, "WAVE");
    constexpr auto kFmtBytes = static_cast<uint32_t>(bytes::kWaveFormatRecordBytes);
    bytes::WriteChunkHeader(target, "fmt ", kFmtBytes);
    target.write(reinterpret_cast<const char*>(SourceFormat.Bytes.data()), kFmtBytes);
    bytes::WriteChunkHeader(target, "data", static_cast<uint32_t>(FData.size()));
    target.write(reinterpret_cast<const char*>(FData.data()),
                 static_cast<std::streamsize>(FData.size()));
    target.seekp(0, std::ios::end);
    const std::int64_t length = target.tellp();
    target.seekp(0);
    bytes::WriteChunkHeader(target, "RIFF", static_cast<uint32_t>(length - 8));
    FPosition = remembered;
    return target.good() && length >= 8 ? 0 : kSaveFailed;
}

} // namespace audio
