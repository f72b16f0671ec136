#pragma once
// Encodes one audio file (normally a PCM WAV) into Windows Media Audio v2 inside an ASF
// file, resampling and remixing to the preset's rate and channel count. Author and
// description go into the file's content description.
//
// Run throws std::runtime_error with a one-line reason on any failure; the partial output
// file is then removed. Single-threaded; one object encodes one file.
#include <functional>
#include <memory>

#include "wmaenc/CommandLine.h"
#include "wmaenc/Preset.h"

namespace wmaenc {

class TWmaEncoder {
public:
    // Receives whole percentages 0..99 as the input is consumed, each at most once.
    using ProgressHandler = std::function<void(int percent)>;

    TWmaEncoder(TEncodeRequest request, TPreset preset);
    ~TWmaEncoder();
    TWmaEncoder(const TWmaEncoder&) = delete;
    TWmaEncoder& operator=(const TWmaEncoder&) = delete;

    void Run(const ProgressHandler& progress);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace wmaenc
