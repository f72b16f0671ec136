#pragma once
// The encode step over the lame child: WAV to MP3, or (Decode) MP3 to WAV. It ends with
// PI_MP3_ENDED; the output was made when lame exited with 0 after some progress came for
// the item (lame says nothing useful about a file it could not read, and still exits 0).
#include "jobs/ChildProcessStep.h"
#include "jobs/Mp3EncodeThread.h"

namespace jobs {

class TLameStep final : public TChildProcessStep<TMp3EncodeProcess> {
public:
    TLameStep(TEncodeRequest request, platform::HWND window);

    bool Succeeded(const settings::TProcessInfo& end, bool progressSeen) const override;

    const TMp3EncodeProcess& Process() const { return process_; }
};

} // namespace jobs
