#include "cd/RipHarness.h"

#include <QCoreApplication>
#include <memory>

namespace cdtest {

cd::TRipOptions RipOptionsFromSettings(const std::string& title) {
    const settings::TCommonOptions& c = settings::Settings.CommonOptions;
    cd::TRipOptions options;
    options.WavPath = c.OutputFolder + "/" + title + ".wav";
    options.EnableRipTime = c.EnableRipTime;
    options.RipTime = c.RipTime;
    options.IsNormalize = c.IsNormalize;
    options.NormalizePercent = c.NormalizePercent;
    return options;
}

void RunRip(int track, const std::string& title, cd::HCDROM handle,
            testsupport::MessageRecorder& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare) {
    auto thread = std::make_unique<cd::TCDRipThread>(track, title, RipOptionsFromSettings(title));
    thread->CDHandle = handle;
    thread->NotifyWindow = &receiver;
    if (prepare) {
        prepare(*thread);
    }
    thread->Resume();
    thread.reset(); // waits for the worker
    QCoreApplication::sendPostedEvents(&receiver);
}

} // namespace cdtest
