// The drive worker: calls run on a thread of its own, a stop asks them to hurry, and one
// that does not hurry is left behind without the caller waiting for it.
#include "cd/DriveWorker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace {

using cd::DriveWorker;
using namespace std::chrono_literals;

// A gate a task waits at until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
};

TEST(DriveWorker, CallsRunInOrderOnAnotherThreadAndTheirResultsAreThereWhenTheyReturn) {
    DriveWorker worker;
    const std::atomic<bool> stop{false};
    std::vector<int> order;
    std::thread::id ranOn;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(worker.Call(
                      [&order, &ranOn, i] {
                          std::this_thread::sleep_for(1ms);
                          order.push_back(i);
                          ranOn = std::this_thread::get_id();
                      },
                      stop, {}, 100ms),
                  DriveWorker::Outcome::Done);
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(worker.Abandoned());
}

TEST(DriveWorker, AStopAsksTheCallToHurryAndWaitsOnlyForOneThatDoes) {
    struct Case {
        const char* what;
        bool hurries; // the interrupt ends the call
        DriveWorker::Outcome outcome;
    };
    const Case cases[] = {
        {"a call that hurries", true, DriveWorker::Outcome::Done},
        {"a call stuck in the drive", false, DriveWorker::Outcome::Abandoned},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto gate = std::make_shared<Gate>();
        const auto finished = std::make_shared<std::atomic<bool>>(false);
        auto held = std::make_shared<int>(0); // only the call keeps it once the test lets go
        const std::weak_ptr<int> heldByCall = held;
        std::atomic<bool> stop{false};
        int interrupts = 0;
        auto worker = std::make_unique<DriveWorker>();
        auto outcome = std::async(std::launch::async, [&] {
            return worker->Call(
                [gate, finished, held] {
                    gate->Wait();
                    *finished = true;
                },
                stop,
                [&] {
                    ++interrupts;
                    if (c.hurries) {
                        gate->Open();
                    }
                },
                100ms);
        });
        EXPECT_EQ(outcome.wait_for(50ms), std::future_status::timeout) << "waits for the call";
        stop = true;
        ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(outcome.get(), c.outcome);
        EXPECT_EQ(interrupts, 1);
        EXPECT_EQ(*finished, c.hurries);
        if (!c.hurries) {
            bool ran = false;
            EXPECT_EQ(worker->Call([&ran] { ran = true; }, stop, {}, 100ms),
                      DriveWorker::Outcome::Abandoned)
                << "the worker is still busy";
            EXPECT_FALSE(ran);
        }
        worker.reset(); // must not wait for the stuck call
        EXPECT_EQ(*finished, c.hurries);
        held.reset();
        gate->Open(); // the drive comes back: the call ends and lets go of what it held
        EXPECT_TRUE(testsupport::WaitUntil([&] { return heldByCall.expired(); }));
        EXPECT_TRUE(*finished);
    }
}

} // namespace
