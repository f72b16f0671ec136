// Feeds arbitrary bytes to the WAV header scan and to the reader as a file: the scan, every
// decoder behind it, seeking and jumping must neither crash nor read out of bounds.
#include "audio/ACS_Wave.h"

#include "FuzzScratch.h"

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

void ReadThrough(audio::TWaveIn& in, int chunk, int jump) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunk));
    in.Init();
    int calls = 0;
    while (in.GetData(buffer.data(), chunk) > 0 && ++calls < 4096) {
        if (calls == 2 && jump != 0)
            in.Jump(jump);
    }
    in.Flush();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (bool append : {false, true}) {
        std::istringstream stream(bytes, std::ios::binary);
        (void)audio::ScanWaveHeader(stream, append);
    }

    const std::string path = fuzzing::WriteScratchFile("input.wav", data, size);
    // Steering values from the last bytes, so the fuzzer can reach seeking and jumping.
    const int chunk = size > 0 ? 1 + data[size - 1] * 64 : 4096;
    const int start = size > 1 ? data[size - 2] * 37 : 0;
    const int jump = size > 2 ? static_cast<std::int8_t>(data[size - 3]) : 0;
    try {
        audio::TWaveIn in;
        in.SetFileName(path);
        if (in.Valid()) {
            (void)in.WavType();
            (void)in.TotalTime();
            ReadThrough(in, chunk, jump);
            in.SetStartSample(start);
            in.SetEndSample(start + 5000);
            ReadThrough(in, chunk, -jump);
        }
    } catch (const audio::EACSException&) {
        // A refused block is a correct answer to a broken file.
    }
    return 0;
}
