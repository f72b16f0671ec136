#pragma once
// Carries a sink's events from its worker thread to a window on the GUI thread.
//
// RouteOutputEvents sets the sink's OnProgress, OnDone and OnThreadException so that each
// only queues the window's handler (with the exception's text for a failure) to the thread of
// window; a handler still queued when the window is destroyed is dropped with it. Call it on
// the GUI thread while the sink is idle. The window must outlive the sink (own it as a member):
// an event fired while the sink is being destroyed then still queues to a living object.
#include <QObject>
#include <QString>

#include <functional>

#include "audio/ACS_Classes.h"

namespace tools {

struct TOutputHandlers {
    std::function<void()> progress;
    std::function<void()> done;
    std::function<void(const QString& message)> failure;
};

void RouteOutputEvents(QObject* window, audio::TACSOutput& output, TOutputHandlers handlers);

} // namespace tools
