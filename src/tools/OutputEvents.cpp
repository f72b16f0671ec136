#include "tools/OutputEvents.h"

namespace tools {

void RouteOutputEvents(QObject* window, audio::TACSOutput& output, TOutputHandlers handlers) {
    output.OnProgress = [window, progress = handlers.progress](audio::TACSOutput*) {
        QMetaObject::invokeMethod(window, progress, Qt::QueuedConnection);
    };
    output.OnDone = [window, done = handlers.done](audio::TACSOutput*) {
        QMetaObject::invokeMethod(window, done, Qt::QueuedConnection);
    };
    output.OnThreadException = [window, failure = handlers.failure](audio::TACSOutput*,
                                                                    const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        QMetaObject::invokeMethod(
            window, [failure, message] { failure(message); }, Qt::QueuedConnection);
    };
}

} // namespace tools
