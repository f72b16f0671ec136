#pragma once
// What the rip-thread tests share: the Qt application the posted messages need, the job
// window's side that collects them, and running one rip thread to its end.
#include "cd/ripthread.h"
#include "settings/ProcessInfo.h"

#include <QCoreApplication>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

namespace cdtest {

void EnsureApplication();

// The job window's side: collects every message the thread posts, in order.
class Receiver : public QObject, public platform::MessageReceiver {
public:
    struct Message {
        unsigned msg = 0;
        std::intptr_t lParam = 0;
        settings::TProcessInfo info;
    };
    std::vector<Message> messages;

    bool event(QEvent* e) override;
    std::intptr_t HandleMessage(unsigned msg, std::intptr_t, std::intptr_t lParam) override;
    // Percentages (true) or events (false), in order.
    std::vector<settings::TProcessInfo> Records(bool percentages) const;
    // The status of the last completion event; -1 when there was none.
    std::int32_t DoneStatus() const;
};

// Opens the first drive of the list (the first image UseImages named); 0 on failure.
cd::HCDROM OpenFirstDrive();

// Runs one rip to its end and delivers what it posted to `receiver`.
void RunRip(int track, const std::string& title, cd::HCDROM handle, Receiver& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare = {});

} // namespace cdtest
