#pragma once
// What the rip-thread tests share: running one rip thread to its end, its posted messages
// delivered to a recorder standing in for the job window.
#include "cd/DiscImages.h"
#include "cd/ripthread.h"
#include "support/MessageRecorder.h"

#include <functional>
#include <string>

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

} // namespace cdtest
