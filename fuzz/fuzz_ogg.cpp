// Feeds arbitrary bytes to the Ogg Vorbis reader as a file: opening, format queries, decoding
// with a jump, and looping must never crash or hang.
#include "audio/ACS_Vorbis.h"

#include "FuzzScratch.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::WriteScratchFile("input.ogg", data, size);
    audio::TVorbisIn in;
    in.SetFileName(path);
    if (!in.Valid()) {
        return 0;
    }
    (void)in.TotalTime();
    (void)in.Channels();
    try {
        in.SetLoop(size % 2 == 0);
        in.Init();
        std::vector<std::uint8_t> buffer(4096);
        // Bounded: a looping reader never runs dry.
        for (int i = 0; i < 64 && in.GetData(buffer.data(), 4096) > 0; ++i) {
            if (i == 3) {
                in.Jump(size % 3 == 0 ? 40 : -20);
            }
        }
        in.Flush();
    } catch (const audio::EACSException&) {
    }
    return 0;
}
