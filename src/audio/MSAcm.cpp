#include "audio/MSAcm.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace audio {
namespace {

// MPEG layer-3 format descriptions carry 12 extra bytes after the common 18.
constexpr uint32_t kLargestFormatSize = 18 + 12;
// A layer-3 frame is never shorter than this many bytes (8 kbit/s at 8 kHz, MPEG 2.5, is
// 72 bytes; free-format and padding games stay above 24) and never holds more than 1152
// frames of audio; used only for the upper bound without source bytes.
constexpr uint64_t kSmallestFrameBytes = 24;
constexpr uint64_t kLargestFrameSamples = 1152;
constexpr std::size_t kFeedBytes = 64 * 1024;

bool IsMpegRate(uint32_t rate) {
    static constexpr uint32_t rates[] = {8000,  11025, 12000, 16000, 22050,
                                         24000, 32000, 44100, 48000};
    return std::find(std::begin(rates), std::end(rates), rate) != std::end(rates);
}

bool IsDecodableSource(const TWaveFormatArea& f) {
    return f.FormatTag() == WAVE_FORMAT_MPEGLAYER3 && (f.Channels() == 1 || f.Channels() == 2) &&
           IsMpegRate(f.SamplesPerSec());
}

bool IsMatchingPcm(const TWaveFormatArea& src, const TWaveFormatArea& dst) {
    return dst.FormatTag() == WAVE_FORMAT_PCM && dst.BitsPerSample() == 16 &&
           dst.Channels() == src.Channels() && dst.SamplesPerSec() == src.SamplesPerSec() &&
           dst.BlockAlign() == 2 * dst.Channels();
}

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using HandlePtr = std::unique_ptr<mpg123_handle, HandleDeleter>;

// Decodes a whole layer-3 byte run to 16-bit PCM at one fixed rate and channel count,
// handing each piece to a sink. False when the data cannot be decoded in that format.
bool DecodeAll(std::span<const uint8_t> source, uint32_t rate, uint16_t channels,
               const std::function<bool(std::span<const uint8_t>)>& sink) {
    InitLibraryOnce();
    int error = MPG123_OK;
    HandlePtr handle(mpg123_new(nullptr, &error));
    if (!handle)
        return false;
    mpg123_handle* mh = handle.get();
    const long flags = MPG123_QUIET | (channels == 1 ? MPG123_FORCE_MONO : MPG123_FORCE_STEREO);
    if (mpg123_param(mh, MPG123_ADD_FLAGS, flags, 0) != MPG123_OK ||
        mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, static_cast<long>(rate), channels == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_open_feed(mh) != MPG123_OK)
        return false;

    std::vector<uint8_t> out(64 * 1024);
    std::size_t fed = 0;
    bool produced = false;
    for (;;) {
        std::size_t done = 0;
        const int rc = mpg123_read(mh, out.data(), out.size(), &done);
        if (done > 0) {
            produced = true;
            if (!sink(std::span(out.data(), done)))
                return false;
        }
        if (rc == MPG123_NEW_FORMAT) {
            long gotRate = 0;
            int gotChannels = 0, encoding = 0;
            mpg123_getformat(mh, &gotRate, &gotChannels, &encoding);
            if (gotRate != static_cast<long>(rate) || gotChannels != channels ||
                encoding != MPG123_ENC_SIGNED_16)
                return false;
            continue;
        }
        if (rc == MPG123_NEED_MORE) {
            if (fed >= source.size())
                return produced;
            const std::size_t n = std::min(kFeedBytes, source.size() - fed);
            if (mpg123_feed(mh, source.data() + fed, n) != MPG123_OK)
                return false;
            fed += n;
            continue;
        }
        if (rc == MPG123_DONE)
            return produced;
        if (rc != MPG123_OK)
            return false;
    }
}

struct AcmStream {
    TWaveFormatArea source;
    TWaveFormatArea target;
};

class StreamTable {
public:
    HACMSTREAM Add(const AcmStream& stream) {
        std::lock_guard lock(mutex_);
        const HACMSTREAM handle = next_++;
        streams_[handle] = std::make_unique<AcmStream>(stream);
        return handle;
    }
    // A copy, so a concurrent close cannot pull the stream away mid-conversion.
    bool Find(HACMSTREAM handle, AcmStream& out) {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end())
            return false;
        out = *it->second;
        return true;
    }
    bool Remove(HACMSTREAM handle) {
        std::lock_guard lock(mutex_);
        return streams_.erase(handle) == 1;
    }

private:
    std::mutex mutex_;
    std::map<HACMSTREAM, std::unique_ptr<AcmStream>> streams_;
    HACMSTREAM next_ = 1;
};

StreamTable& Streams() {
    static StreamTable table;
    return table;
}

bool HeaderUsable(const ACMSTREAMHEADER* pash) {
    return pash != nullptr && pash->cbStruct == sizeof(ACMSTREAMHEADER) &&
           (pash->pbSrc != nullptr || pash->cbSrcLength == 0) &&
           (pash->pbDst != nullptr || pash->cbDstLength == 0);
}

// What every header call checks first, in this order: a known stream (copied into stream),
// no flags beyond those allowed, a usable header.
MMRESULT CheckHeaderCall(HACMSTREAM has, const ACMSTREAMHEADER* pash, uint32_t flags,
                         uint32_t allowedFlags, AcmStream& stream) {
    if (!Streams().Find(has, stream))
        return MMSYSERR_INVALHANDLE;
    if ((flags & ~allowedFlags) != 0)
        return MMSYSERR_INVALFLAG;
    if (!HeaderUsable(pash))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

} // namespace

MMRESULT acmMetrics(void* /*hao*/, uint32_t uMetric, void* pMetric) {
    if (pMetric == nullptr)
        return MMSYSERR_INVALPARAM;
    if (uMetric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_NOTSUPPORTED;
    const uint32_t value = kLargestFormatSize;
    std::memcpy(pMetric, &value, sizeof value);
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(void* /*had*/, const TWaveFormatArea* pwfxSrc, TWaveFormatArea* pwfxDst,
                          uint32_t cbwfxDst, uint32_t fdwSuggest) {
    if (pwfxSrc == nullptr || pwfxDst == nullptr || cbwfxDst < 16)
        return MMSYSERR_INVALPARAM;
    const uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                           ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if ((fdwSuggest & ~known) != 0)
        return MMSYSERR_INVALFLAG;
    if (!IsDecodableSource(*pwfxSrc))
        return ACMERR_NOTPOSSIBLE;
    const TWaveFormatArea& src = *pwfxSrc;
    TWaveFormatArea& dst = *pwfxDst;
    // Each restriction the caller sets must be one we can meet.
    if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && dst.FormatTag() != WAVE_FORMAT_PCM)
        return ACMERR_NOTPOSSIBLE;
    if ((fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && dst.Channels() != src.Channels())
        return ACMERR_NOTPOSSIBLE;
    if ((fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) &&
        dst.SamplesPerSec() != src.SamplesPerSec())
        return ACMERR_NOTPOSSIBLE;
    if ((fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && dst.BitsPerSample() != 16)
        return ACMERR_NOTPOSSIBLE;
    dst.SetFormatTag(WAVE_FORMAT_PCM);
    dst.SetChannels(src.Channels());
    dst.SetSamplesPerSec(src.SamplesPerSec());
    dst.SetBlockAlign(static_cast<uint16_t>(2 * src.Channels()));
    dst.SetAvgBytesPerSec(src.SamplesPerSec() * 2u * src.Channels());
    dst.SetBitsPerSample(16);
    if (cbwfxDst >= 18)
        dst.SetExtraSize(0);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, void* /*had*/, const TWaveFormatArea* pwfxSrc,
                       const TWaveFormatArea* pwfxDst, void* pwfltr, uintptr_t dwCallback,
                       uintptr_t /*dwInstance*/, uint32_t fdwOpen) {
    if (phas == nullptr || pwfxSrc == nullptr || pwfxDst == nullptr)
        return MMSYSERR_INVALPARAM;
    *phas = 0;
    if (pwfltr != nullptr || dwCallback != 0 || (fdwOpen & ~ACM_STREAMOPENF_NONREALTIME) != 0)
        return MMSYSERR_NOTSUPPORTED;
    if (!IsDecodableSource(*pwfxSrc) || !IsMatchingPcm(*pwfxSrc, *pwfxDst))
        return ACMERR_NOTPOSSIBLE;
    *phas = Streams().Add(AcmStream{*pwfxSrc, *pwfxDst});
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize,
                       const uint8_t* pbSource) {
    AcmStream stream;
    if (!Streams().Find(has, stream))
        return MMSYSERR_INVALHANDLE;
    if (pdwOutputBytes == nullptr)
        return MMSYSERR_INVALPARAM;
    if (fdwSize != ACM_STREAMSIZEF_SOURCE)
        return MMSYSERR_NOTSUPPORTED;
    const uint32_t frameBytes = 2u * stream.source.Channels();
    if (pbSource == nullptr) {
        const uint64_t bound =
            (cbInput / kSmallestFrameBytes + 1) * kLargestFrameSamples * frameBytes;
        if (bound > UINT32_MAX)
            return ACMERR_NOTPOSSIBLE;
        *pdwOutputBytes = static_cast<uint32_t>(bound);
        return MMSYSERR_NOERROR;
    }
    uint64_t total = 0;
    const bool ok = DecodeAll(std::span(pbSource, cbInput), stream.source.SamplesPerSec(),
                              stream.source.Channels(), [&](std::span<const uint8_t> piece) {
                                  total += piece.size();
                                  return total <= UINT32_MAX;
                              });
    if (!ok || total == 0)
        return ACMERR_NOTPOSSIBLE;
    *pdwOutputBytes = static_cast<uint32_t>(total);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare) {
    AcmStream stream;
    if (const MMRESULT rc = CheckHeaderCall(has, pash, fdwPrepare, 0, stream);
        rc != MMSYSERR_NOERROR)
        return rc;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwConvert) {
    AcmStream stream;
    if (const MMRESULT rc =
            CheckHeaderCall(has, pash, fdwConvert, ACM_STREAMCONVERTF_BLOCKALIGN, stream);
        rc != MMSYSERR_NOERROR)
        return rc;
    if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    uint32_t written = 0;
    const bool ok =
        DecodeAll(std::span(pash->pbSrc, pash->cbSrcLength), stream.source.SamplesPerSec(),
                  stream.source.Channels(), [&](std::span<const uint8_t> piece) {
                      // Output beyond the destination is dropped; the size query is exact.
                      const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(piece.size()),
                                                            pash->cbDstLength - written);
                      std::memcpy(pash->pbDst + written, piece.data(), n);
                      written += n;
                      return true;
                  });
    if (!ok)
        return ACMERR_NOTPOSSIBLE;
    pash->cbSrcLengthUsed = pash->cbSrcLength;
    pash->cbDstLengthUsed = written;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare) {
    AcmStream stream;
    if (const MMRESULT rc = CheckHeaderCall(has, pash, fdwUnprepare, 0, stream);
        rc != MMSYSERR_NOERROR)
        return rc;
    if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t fdwClose) {
    if (fdwClose != 0)
        return MMSYSERR_INVALFLAG;
    return Streams().Remove(has) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

} // namespace audio
