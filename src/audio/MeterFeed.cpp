#include "audio/MeterFeed.h"

#include <utility>

namespace audio {

TMeterFeed::TMeterFeed(std::shared_ptr<TLoudnessMeter> meter)
    : meter_(std::move(meter)), worker_([this] { Run(); }) {}

TMeterFeed::~TMeterFeed() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void TMeterFeed::Add(std::span<const std::uint8_t> pcm) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return queue_.size() < kMostQueued; });
    queue_.push_back({false, std::vector<std::uint8_t>(pcm.begin(), pcm.end())});
    hold.unlock();
    changed_.notify_all();
}

void TMeterFeed::Restart() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back({true, {}});
    }
    changed_.notify_all();
}

void TMeterFeed::Drain() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return queue_.empty() && !busy_; });
}

void TMeterFeed::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty()) {
            return; // ending, with nothing left to measure
        }
        TItem item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        hold.unlock();
        changed_.notify_all(); // room in the queue
        if (item.restart) {
            meter_->Reset();
        } else {
            meter_->AddPcm(item.pcm);
        }
        hold.lock();
        busy_ = false;
        changed_.notify_all(); // a drain may be waiting
    }
}

} // namespace audio
