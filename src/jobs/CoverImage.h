#pragma once
// The disc's front cover made ready for the tags: read once when a job starts, scaled down
// when larger than the tags should carry, the file on disk never changed.
//
// A JPEG or PNG that fits is embedded as its own bytes; a larger one is scaled (keeping its
// aspect) and encoded again in its own format, any other image becomes a JPEG. Uses QImage,
// so the GUI thread or a worker may call it (no widgets).
#include <memory>
#include <string>

#include "tags/TagWriter.h"

namespace jobs {

// The longest side of an embedded cover, in pixels.
constexpr int kMaxCoverSide = 1000;

struct TPreparedCover {
    std::shared_ptr<const tags::TCoverArt> Art; // null when there is no usable image
    std::string Error;                          // why the file gave none; "" when it did
    std::string Extension;                      // ".jpg" or ".png", for the saved copy
};

// Reads the image at path. An empty path gives no cover and no error.
TPreparedCover PrepareCover(const std::string& path, int maxSide = kMaxCoverSide);

// Saves the prepared cover as folder/cover.jpg (or .png) unless that file is there already:
// written under another name first, so the cover is never seen half-written. Returns "" on
// success or when there was nothing to do, else why it failed.
std::string SaveCoverOnce(const TPreparedCover& cover, const std::string& folder);

} // namespace jobs
