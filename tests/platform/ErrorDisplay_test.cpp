#include "platform/ErrorDisplay.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "platform/Log.h"
#include "platform/ScriptedDialogs.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace {

struct Thrown {
    const char* name;
    std::function<void()> raise;
    QString box;         // what the error display shows
    std::string logLine; // what a swallowing handler leaves on stderr
};

const Thrown kThrown[] = {
    {"library error", [] { throw std::runtime_error("Cannot create /x"); }, "Cannot create /x.",
     "vellorine: saving: Cannot create /x\n"},
    {"text ending in a dot", [] { throw std::invalid_argument("Bad file."); }, "Bad file.",
     "vellorine: saving: Bad file.\n"},
    {"not a std::exception", [] { throw 42; }, "Unknown error.",
     "vellorine: saving: unknown error\n"},
};

class GuardedSlots : public ::testing::Test {
protected:
    const testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* const dialogs_ = scripted_.get();
};

TEST_F(GuardedSlots, WhatADirectlyConnectedSlotThrowsReachesTheErrorBoxAndTheEmitterGoesOn) {
    for (const Thrown& thrown : kThrown) {
        SCOPED_TRACE(thrown.name);
        dialogs_->boxes.clear();
        QAction action;
        int after = 0;
        QObject::connect(&action, &QAction::triggered, &action, platform::Guarded(thrown.raise));
        QObject::connect(&action, &QAction::triggered, &action, [&after] { ++after; });
        action.trigger(); // emits directly: no event, so QApplication::notify never sees it
        ASSERT_EQ(dialogs_->boxes.size(), 1);
        EXPECT_EQ(dialogs_->boxes[0].text, thrown.box);
        EXPECT_EQ(dialogs_->boxes[0].caption, "Vellorine");
        EXPECT_EQ(dialogs_->boxes[0].icon, platform::MbIcon::Error);
        EXPECT_EQ(after, 1); // the slots after it still ran
    }
}

TEST_F(GuardedSlots, AMemberSlotGetsTheSignalsArgumentsItTakesAndQuietSlotsShowNothing) {
    struct Receiver : QObject {
        bool checked = false;
        void Toggled(bool on) { checked = on; }
    } receiver;
    QAction action;
    action.setCheckable(true);
    QObject::connect(&action, &QAction::toggled, &receiver,
                     platform::Guarded(&receiver, &Receiver::Toggled));
    action.setChecked(true);
    EXPECT_TRUE(receiver.checked);
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST(SwallowedExceptions, LeaveOneLineOnStandardErrorWithWhereAndWhat) {
    for (const Thrown& thrown : kThrown) {
        SCOPED_TRACE(thrown.name);
        testing::internal::CaptureStderr();
        try {
            thrown.raise();
        } catch (...) {
            platform::LogSwallowedException("saving");
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), thrown.logLine);
    }
}

} // namespace
