#include "settings/OutputFormat.h"

#include <array>

#include "settings/ProcessInfo.h"

namespace settings {

namespace {

using enum TOutputFormat;
using enum TStepMaker;
using enum TTagKind;

// WAV as an output is what a rip writes or what lame decodes: it asks before replacing a
// file only in a conversion, like every child-process output.
constexpr std::array<TOutputFormatRow, 6> kRows = {{
    {ofMp3, "MP3 file(*.MP3)", ".mp3", true, true, smLame, PI_MP3_ENDED, "LAME", tkId3},
    {ofWav, "WAV file(*.WAV)", ".wav", false, true, smNone, 0, "", tkNone},
    {ofOgg, "OGG file(*.OGG)", ".ogg", true, false, smVorbis, PI_OGG_DONE, "OGG", tkVorbisComment},
    {ofWma, "WMA file(*.WMA)", ".wma", false, true, smWmaHelper, PI_WMA_ENDED, "WMA", tkWma},
    // FLAC keeps any input rate (lossless); Opus takes any rate and resamples itself.
    {ofFlac, "FLAC file(*.FLAC)", ".flac", false, true, smFlac, PI_FLAC_DONE, "FLAC",
     tkVorbisComment},
    {ofOpus, "Opus file(*.OPUS)", ".opus", false, true, smOpus, PI_OPUS_DONE, "Opus",
     tkVorbisComment},
}};

} // namespace

std::span<const TOutputFormatRow> OutputFormats() {
    return kRows;
}

const TOutputFormatRow* FormatRow(TOutputFormat format) {
    for (const TOutputFormatRow& row : kRows) {
        if (row.Format == format) {
            return &row;
        }
    }
    return nullptr;
}

int StoredFormat(TOutputFormat format) {
    return static_cast<int>(format);
}

TOutputFormat FormatFromStored(int stored) {
    return static_cast<TOutputFormat>(stored);
}

} // namespace settings
