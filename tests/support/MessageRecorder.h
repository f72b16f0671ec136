#pragma once
// Stands in for a window that workers post to (the job window, the CDDB dialog): it keeps
// every window message it receives, in order, on the thread it lives in (the GUI thread).
// A WM_PROGRESS record is owned by the receiver, so the recorder copies and deletes it.
#include <QObject>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Messages.h"
#include "settings/ProcessInfo.h"

namespace testsupport {

struct RecordedMessage {
    unsigned msg = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    settings::TProcessInfo info; // the record of a WM_PROGRESS message
    bool onOwnThread = false;    // handled on the recorder's thread
};

class MessageRecorder : public QObject, public platform::MessageReceiver {
public:
    std::vector<RecordedMessage> messages;
    // Runs after each message is kept (a job window starts its next step there); what it
    // returns is the message's result, and what it throws reaches the error display.
    std::function<std::intptr_t(const RecordedMessage&)> onMessage;

    bool event(QEvent* e) override;
    std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) override;

    // The WM_PROGRESS records in order: all of them, the percentages (Code 0..100) or the
    // events (the other codes).
    std::vector<settings::TProcessInfo> Records() const;
    std::vector<settings::TProcessInfo> ProgressRecords() const;
    std::vector<settings::TProcessInfo> Events() const;
    std::vector<std::int32_t> Percentages() const;
    // The Status of the last event with this code; -1 when there was none.
    std::int32_t LastStatus(std::int32_t code) const;
};

// Whether a record's Code is a percentage rather than an event.
inline bool IsPercentage(const settings::TProcessInfo& info) {
    return info.Code >= 0 && info.Code <= 100;
}

} // namespace testsupport
