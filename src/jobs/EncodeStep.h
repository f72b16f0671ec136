#pragma once
// One encode (or decode) step of a job: a request in, a finished output file out. The
// adapters over the lame child, the WM8EUTIL child and the in-process Vorbis writer all
// look like this to the job, so the job runs any format the same way and several at once.
//
// Contract:
// - Start, Finish, Stop and the destructor run on the GUI thread.
// - Every record the step sends to its window is a WM_PROGRESS whose wParam is the request's
//   StepId: percentages while it runs, then exactly one end record with its format's end
//   code (posted; the WMA helper's is sent, so it may arrive inside Start or inside a
//   hand-over from its monitor). A stopped step sends nothing more.
// - The step writes only under the request's Partial name. Finish gives a made output its
//   tags and its final name; anything else it wrote is removed, so a killed or failed step
//   never leaves a file under a final name. An output whose full-length tag cannot be
//   written counts as not made.
// - The configuration is the request's; a step never reads the settings record.
#include <cstdint>
#include <memory>
#include <string>

#include "jobs/JobPlan.h"
#include "platform/Messages.h"
#include "settings/ProcessInfo.h"
#include "tags/TagWriter.h"

namespace jobs {

// Status of an end event when one of the job's own pipeline components failed (the
// record's Elapsed carries the reason).
constexpr std::int32_t JobStatusWriterFailed = 7;

// What Finish did with the output.
struct TFinishResult {
    bool Produced = false;       // the output is there under its final name
    std::uint16_t TagResult = 0; // the ID3 write's result (above 255 is a failure)
    std::string TagError;        // why the full-length tag failed (the output was not made)
    std::string CoverError;      // why the cover could not be saved beside the output
};

class TEncodeStep {
public:
    TEncodeStep(TEncodeRequest request, platform::HWND window);
    virtual ~TEncodeStep();
    TEncodeStep(const TEncodeStep&) = delete;
    TEncodeStep& operator=(const TEncodeStep&) = delete;

    const TEncodeRequest& Request() const { return request_; }

    // Starts the encoder. Throws std::runtime_error when it cannot be started (no end
    // record follows then).
    virtual void Start() = 0;
    // Whether the end record says the output was made; progressSeen tells whether progress
    // came for the item since its last step began.
    virtual bool Succeeded(const settings::TProcessInfo& end, bool progressSeen) const = 0;
    // Whether the encoder still runs (a child, or a pipeline worker).
    virtual bool Running() const = 0;
    // How the encoder's child ended (0 for an encoder without one).
    virtual int ExitCode() const { return 0; }
    // Ends a running step at once and removes what it wrote; no end record follows.
    void Stop();

    // After the end record: tags and renames a made output, removes anything else.
    TFinishResult Finish(bool succeeded);

protected:
    virtual void StopEncoder() = 0;
    // Whether the encoder was started and may have written under the partial name.
    virtual bool Launched() const = 0;
    // Posts (or sends) a record to the window, with the step id.
    void Post(std::int32_t code, std::int32_t status, std::string elapsed = {},
              std::string estimated = {}) const;

    const TEncodeRequest request_;
    const platform::HWND window_;

private:
    std::uint16_t WriteId3() const;
    tags::TTagSet FullTagSet() const;
};

// The step that makes the request's format (lame also decodes).
std::unique_ptr<TEncodeStep> MakeEncodeStep(const TEncodeRequest& request, platform::HWND window);

} // namespace jobs
