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

#include "QtTestApp.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Thread.h"

namespace {

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
    for (int i = 0; i < 500 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(gone);
}

class Receiver : public QObject, public platform::MessageReceiver {
public:
    std::intptr_t HandleMessage(unsigned msg, std::intptr_t w, std::intptr_t l) override {
        received.push_back({msg, w, l});
        onGuiThread = QThread::currentThread() == thread();
        return w + l;
    }
    bool event(QEvent* e) override { return DispatchMessageEvent(e) || QObject::event(e); }

    struct Message {
        unsigned msg;
        std::intptr_t w, l;
    };
    std::vector<Message> received;
    bool onGuiThread = false;
};

TEST(Messages, PostedMessagesArriveInOrderOnTheReceiversThread) {
    testsupport::EnsureQtApp();
    Receiver receiver;
    std::thread worker([&] {
        platform::PostMessage(&receiver, platform::WM_USER + 102, 1, 2);
        platform::PostMessage(&receiver, platform::WM_USER + 101, 0, 1);
    });
    worker.join();
    EXPECT_TRUE(receiver.received.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(receiver.received.size(), 2u);
    EXPECT_EQ(receiver.received[0].msg, 0x466u);
    EXPECT_EQ(receiver.received[1].msg, 0x465u);
    EXPECT_TRUE(receiver.onGuiThread);
    EXPECT_FALSE(platform::PostMessage(nullptr, 1, 0, 0));
}

TEST(Messages, SendFromAWorkerWaitsForTheGuiThreadAndReturnsItsResult) {
    testsupport::EnsureQtApp();
    platform::InstallSynchronizeDispatcher();
    Receiver receiver;
    std::atomic<std::intptr_t> result{0};
    std::atomic<bool> synced{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = platform::SendMessage(&receiver, 7, 40, 2);
        platform::TThread::Synchronize(
            [&] { synced = QThread::currentThread() == QCoreApplication::instance()->thread(); });
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents();
    }
    worker.join();
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(receiver.onGuiThread);
    EXPECT_TRUE(synced);
}

// A function handed to the GUI thread that throws: the worker must wake up, and the error
// must reach the error display rather than vanish.
TEST(Messages, AHandOverThatThrowsWakesTheWorkerAndShowsTheError) {
    testsupport::EnsureQtApp();
    auto scripted = std::make_unique<platform::ScriptedDialogs>();
    platform::ScriptedDialogs* boxes = scripted.get();
    auto previous = platform::InstallDialogs(std::move(scripted));
    struct Throwing : QObject, platform::MessageReceiver {
        std::intptr_t HandleMessage(unsigned, std::intptr_t, std::intptr_t) override {
            throw std::runtime_error("handler failed");
        }
        bool event(QEvent* e) override { return DispatchMessageEvent(e) || QObject::event(e); }
    } receiver;
    const std::vector<std::function<void()>> handOvers = {
        [] { platform::TThread::Synchronize([] { throw std::runtime_error("sync failed"); }); },
        [&] { platform::SendMessage(&receiver, platform::WM_USER + 102, 0, 0); },
    };
    for (const auto& handOver : handOvers) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            handOver();
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(done) << "the worker still waits";
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
    platform::InstallDialogs(std::move(previous));
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
