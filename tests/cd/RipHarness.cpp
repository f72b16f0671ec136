#include "cd/RipHarness.h"

#include <QCoreApplication>
#include <memory>

namespace cdtest {

void RunRip(int track, const std::string& title, cd::HCDROM handle,
            testsupport::MessageRecorder& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare) {
    auto thread =
        std::make_unique<cd::TCDRipThread>(track, title, settings::Settings.CommonOptions);
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
