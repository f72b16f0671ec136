#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Thread.h"
#include "settings/ProcessInfo.h"
#include "support/MessageRecorder.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace {

using namespace std::chrono_literals;

class CountingThread : public platform::TThread {
public:
    CountingThread(bool suspended, std::atomic<int>& runs) : TThread(suspended), runs_(runs) {}

protected:
    void Execute() override {
        while (!Terminated() && runs_ < 1000000) {
            ++runs_;
        }
    }

private:
    std::atomic<int>& runs_;
};

TEST(Thread, ACreatedSuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> runs{0};
    CountingThread thread(true, runs);
    EXPECT_TRUE(thread.Suspended());
    EXPECT_EQ(runs, 0);
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(runs, 1000000);
}

TEST(Thread, AFreeOnTerminateThreadDeletesItselfWhenDone) {
    struct Flagging : platform::TThread {
        explicit Flagging(std::atomic<bool>& gone) : TThread(true), gone_(gone) {
            SetFreeOnTerminate(true);
        }
        ~Flagging() override { gone_ = true; }
        void Execute() override {}
        std::atomic<bool>& gone_;
    };
    std::atomic<bool> gone{false};
    (new Flagging(gone))->Resume();
    EXPECT_TRUE(testsupport::PumpUntil([&] { return gone.load(); }, 1s));
}

TEST(Messages, PostedMessagesArriveInOrderOnTheReceiversThread) {
    testsupport::MessageRecorder receiver;
    std::thread worker([&] {
        platform::PostMessage(&receiver, settings::WM_CDDB, 1, 2);
        platform::PostMessage(&receiver, settings::WM_RIPERROR, 0, 1);
    });
    worker.join();
    EXPECT_TRUE(receiver.messages.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(receiver.messages.size(), 2u);
    EXPECT_EQ(receiver.messages[0].msg, settings::WM_CDDB);
    EXPECT_EQ(receiver.messages[0].wParam, 1);
    EXPECT_EQ(receiver.messages[0].lParam, 2);
    EXPECT_EQ(receiver.messages[1].msg, settings::WM_RIPERROR);
    EXPECT_TRUE(receiver.messages[0].onOwnThread);
    EXPECT_TRUE(receiver.messages[1].onOwnThread);
    EXPECT_FALSE(platform::PostMessage(nullptr, 1, 0, 0));
}

TEST(Messages, SendFromAWorkerWaitsForTheGuiThreadAndReturnsItsResult) {
    platform::InstallSynchronizeDispatcher();
    testsupport::MessageRecorder receiver;
    receiver.onMessage = [](const testsupport::RecordedMessage& m) { return m.wParam + m.lParam; };
    std::atomic<std::intptr_t> result{0};
    std::atomic<bool> synced{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = platform::SendMessage(&receiver, 7, 40, 2);
        platform::TThread::Synchronize(
            [&] { synced = QThread::currentThread() == QCoreApplication::instance()->thread(); });
        done = true;
    });
    EXPECT_TRUE(testsupport::PumpUntil([&] { return done.load(); }, 5s));
    worker.join();
    EXPECT_EQ(result, 42);
    ASSERT_EQ(receiver.messages.size(), 1u);
    EXPECT_TRUE(receiver.messages[0].onOwnThread);
    EXPECT_TRUE(synced);
}

// A function handed to the GUI thread that throws: the worker must wake up, and the error
// must reach the error display rather than vanish.
TEST(Messages, AHandOverThatThrowsWakesTheWorkerAndShowsTheError) {
    const testsupport::ScopedDialogs scripted;
    platform::ScriptedDialogs* boxes = scripted.get();
    testsupport::MessageRecorder receiver;
    receiver.onMessage = [](const testsupport::RecordedMessage&) -> std::intptr_t {
        throw std::runtime_error("handler failed");
    };
    const std::vector<std::function<void()>> handOvers = {
        [] { platform::TThread::Synchronize([] { throw std::runtime_error("sync failed"); }); },
        [&] { platform::SendMessage(&receiver, settings::WM_CDDB, 0, 0); },
    };
    for (const auto& handOver : handOvers) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            handOver();
            done = true;
        });
        EXPECT_TRUE(testsupport::PumpUntil([&] { return done.load(); }, 5s))
            << "the worker still waits";
        if (!done) {
            worker.detach(); // it would block the test forever
            continue;
        }
        worker.join();
    }
    ASSERT_EQ(boxes->boxes.size(), 2);
    EXPECT_EQ(boxes->boxes[0].text, "sync failed.");
    EXPECT_EQ(boxes->boxes[1].text, "handler failed.");
    EXPECT_EQ(boxes->boxes[1].icon, platform::MbIcon::Error);
}

TEST(ErrorDisplay, ADotIsAddedOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(platform::ErrorDisplayText("Cannot create /x"), "Cannot create /x.");
    EXPECT_EQ(platform::ErrorDisplayText("Done."), "Done.");
    EXPECT_EQ(platform::ErrorDisplayText("Odd!"), "Odd!");
    EXPECT_EQ(platform::ErrorDisplayText("Size 2"), "Size 2.");
}

TEST(Dialogs, FiltersBecomeQtFilters) {
    EXPECT_EQ(platform::ConvertFilter("Sound file(*.wav)|*.wav| Any file(*.*)|*.*"),
              "Sound file(*.wav) (*.wav);; Any file(*.*) (*.*)");
}

} // namespace
