#pragma once
// What the window-rip benches share: their arguments, a scratch program folder with a disc
// image of tones opened as the drive, and a whole rip by the job window.
#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cd/DiscImages.h"
#include "jobs/rip.h"
#include "settings/Global.h"
#include "support/TestSupport.h"

namespace benchrip {

// --pairs N, or the default.
inline int PairsArgument(int argc, char** argv, int fallback) {
    for (int a = 1; a + 1 < argc; ++a) {
        if (std::strcmp(argv[a], "--pairs") == 0) {
            return std::max(1, std::atoi(argv[a + 1]));
        }
    }
    return fallback;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// options.ini in a scratch program folder (the window's settings are the program's) and an
// image of `tracks` tones of `frames` each as the only drive; handle is 0 when it did not
// open. Make it after setting QT_QPA_PLATFORM and before the QApplication.
struct TBenchDisc {
    TBenchDisc(int tracks, int frames) {
        setenv("VELLORINE_HOME", dir.File("home").c_str(), 1);
        cue = cdtest::MakeImage(
            dir, "bench", std::vector<int>(static_cast<std::size_t>(tracks), frames), "--tones");
        cdtest::UseImages({cue});
    }
    int Open() { return handle = cdtest::OpenFirstDrive(); }

    testsupport::ScratchFolder dir;
    std::string cue;
    int handle = 0;
};

// Rips tracks 1..tracks by the job window with the current settings; returns the seconds.
inline double WindowRip(int handle, int tracks) {
    QStringList items;
    for (int t = 1; t <= tracks; ++t) {
        items << QString::fromStdString(settings::TwoDigits(t) + "Track" + settings::TwoDigits(t));
    }
    const auto start = std::chrono::steady_clock::now();
    jobs::TRipForm form(nullptr, items, handle, jobs::jkExtract);
    form.show();
    while (!form.JobFinished() || form.isVisible()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace benchrip
