#pragma once
// Writes PCM into a plain WAV file: the canonical 44-byte header first (sizes left at 0;
// the extensible 68-byte one for more than two channels or more than 16 bits),
// the samples, then the header's sizes once the length is known, so a file cut short by a
// crash still says it is unfinished.
// One writer per thread; it owns its file (closed by the destructor, which leaves whatever
// was written: the caller removes a failed file).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "audio/PcmFormat.h"

namespace audio {

class TPcmWavWriter {
public:
    // Creates (or replaces) path. Throws std::runtime_error with the system's reason.
    TPcmWavWriter(const std::string& path, const TPcmFormat& format);

    // Appends PCM bytes in the writer's format. Throws with the system's reason.
    void Write(std::span<const std::uint8_t> pcm);
    // Fills in the header's sizes and closes the file. Throws with the system's reason.
    void Finish();

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void WriteHeader();
    [[noreturn]] static void Fail();

    TPcmFormat format_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t dataBytes_ = 0;
};

} // namespace audio
