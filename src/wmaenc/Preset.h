#pragma once
// The 33 WMA audio settings the program offers, written "bit rate_sample rate_channels"
// with the bit rate in kbit/s and the sample rate in whole kHz ("44" is 44 100 Hz).
#include <optional>
#include <string_view>

namespace wmaenc {

struct TPreset {
    int BitRate;    // bit/s as named; the encoder uses at least 24 000
    int SampleRate; // Hz
    int Channels;
};

// The preset named by code, or nothing when the code is not one of the 33.
std::optional<TPreset> FindPreset(std::string_view code);

} // namespace wmaenc
