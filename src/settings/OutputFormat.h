#pragma once
// The output formats of an extraction, one row each. CommonOptions/OutputFormat stores the
// row's number (the enum's value) in options.ini; a number without a row is kept as it is
// and means "no encode step" (the extracted WAV is the output).
//
// Adding a format is one row here, one encode step class (jobs) and one Options page.
#include <cstdint>
#include <span>

namespace settings {

enum class TOutputFormat : int {
    ofMp3 = 0,
    ofWav = 1,
    ofOgg = 2,
    ofWma = 3,
    ofFlac = 4,
    ofOpus = 5
};

// How a format's encode step is made (jobs turns this into a step object).
enum class TStepMaker { smNone, smLame, smWmaHelper, smVorbis, smFlac, smOpus };

// The tag a finished file of the format carries (written by its encode step's Finish).
enum class TTagKind { tkNone, tkId3, tkVorbisComment, tkWma };

struct TOutputFormatRow {
    TOutputFormat Format;
    const char* Label;       // the Options dialog's format list
    const char* Extension;   // with its dot
    bool Needs44100;         // a file conversion resamples slower input first
    bool AsksToOverwrite;    // a file conversion asks before replacing an existing output
    TStepMaker Step;         // smNone: the extracted WAV is the output
    std::int32_t EndCode;    // the event that ends its step (0 when there is no step)
    const char* OptionsPage; // title of its Options page; "" for none
    TTagKind Tags;
};

// Every row, in stored-number order.
std::span<const TOutputFormatRow> OutputFormats();
// The row of a format; nullptr for a stored number without a row.
const TOutputFormatRow* FormatRow(TOutputFormat format);
// The stored number of a format and back (any number is kept).
int StoredFormat(TOutputFormat format);
TOutputFormat FormatFromStored(int stored);

} // namespace settings
