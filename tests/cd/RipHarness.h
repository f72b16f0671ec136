#pragma once
// What the rip-thread tests share: running one rip thread to its end, its posted messages
// delivered to a recorder standing in for the job window.
#include "cd/DiscImages.h"
#include "cd/ripthread.h"
#include "support/MessageRecorder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace cdtest {

// OpenFirstDrive (the first image UseImages named) comes from DiscImages.h.

// The options a job gives a rip thread for this title, from the settings record's output
// folder, rip time and normalize settings.
cd::TRipOptions RipOptionsFromSettings(const std::string& title);

// Runs one rip to its end with the options of the settings record and delivers what it
// posted to `receiver`.
void RunRip(int track, const std::string& title, cd::HCDROM handle,
            testsupport::MessageRecorder& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare = {});

// A test with a generated disc image in the first image drive: the settings' common
// options start afresh with `out` as the output folder, and the drive handle is closed
// when the test ends.
class ImageRipTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { CloseDisc(); }
    // Makes the image `name` with tracks of these frame counts and opens it; damage must be
    // in the environment before. Sets `bin` and `handle`.
    void OpenImage(const std::vector<int>& frames, const std::string& name = "disc");
    void CloseDisc();

    testsupport::ScratchFolder images;
    testsupport::ScratchFolder out;
    std::string bin;
    cd::HCDROM handle = 0;
    testsupport::MessageRecorder receiver;
};

} // namespace cdtest
