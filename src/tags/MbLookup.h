#pragma once
// One MusicBrainz lookup of a disc and the fetch of a release's front cover, as blocking
// calls for a worker thread (any thread; no window is touched). Both go through
// cd::MbService, so they share its pacing per host, its retries and its cancel flag.
#include "cd/MbService.h"
#include "tags/MbReply.h"

#include <string>
#include <vector>

namespace tags {

struct MbLookupResult {
    enum class Kind { Found, NotFound, Failed, Cancelled };
    Kind kind = Kind::Failed;
    std::vector<MbRelease> releases; // Found: at least one
    std::string error;               // Failed: why, for the user
};

struct CoverResult {
    enum class Kind { Saved, NotFound, Failed, Cancelled };
    Kind kind = Kind::Failed;
    std::string file; // Saved: where the image is
    std::string error;
};

// Asks `server` for the disc (its id and TOC parameter, see cd/MbDiscId.h).
MbLookupResult LookupMbDisc(const std::string& server, const std::string& discId,
                            const std::string& tocParameter, int trackCount,
                            const cd::MbServiceOptions& options);
// Fetches the release's front image from `server` into `folder`/<release id>.jpg (or
// .png), replacing the file in one step; a reply that is neither JPEG nor PNG is refused.
CoverResult FetchFrontCover(const std::string& server, const std::string& releaseId,
                            const std::string& folder, const cd::MbServiceOptions& options);
// ".jpg" or ".png" by the image's first bytes; "" for anything else.
std::string ImageExtension(const std::string& bytes);

} // namespace tags
