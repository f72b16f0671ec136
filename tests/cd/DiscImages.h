#pragma once
// Disc images for the CD tests, made by the project's generator script, and the
// sample pattern it writes (recomputed here from its documented formula).
#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace cdtest {

using testsupport::ReadAll;
using testsupport::ScratchFolder;

// Runs scripts/make-disc-image; returns the CUE path (the BIN lies beside it).
// extraArgs are appended to the command line as they are.
std::string MakeImage(const ScratchFolder& dir, const std::string& name,
                      const std::vector<int>& frames, const std::string& extraArgs = "");

// Points the CD layer at exactly these images and hides physical drives.
void UseImages(const std::vector<std::string>& cuePaths);

// A handle on the first drive of the CD layer's list (the first image UseImages named);
// 0 when it cannot be opened. The caller closes it.
int OpenFirstDrive();

// Bytes of one pattern frame: track t (1-based), frame f counted within the track.
std::vector<std::uint8_t> PatternFrame(int track, int frame);

using testsupport::Le16;
using testsupport::Le32;

} // namespace cdtest
