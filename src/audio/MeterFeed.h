#pragma once
// Feeds a loudness meter on a thread of its own, so that measuring does not slow the thread
// that reads and writes the audio: blocks are copied into a short queue and measured behind
// it. Drain() returns once everything queued has been measured; after it the meter's
// results may be read on any thread (the queue's lock orders the two).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "audio/Loudness.h"

namespace audio {

class TMeterFeed {
public:
    explicit TMeterFeed(std::shared_ptr<TLoudnessMeter> meter);
    ~TMeterFeed(); // measures what is queued, then ends the thread
    TMeterFeed(const TMeterFeed&) = delete;
    TMeterFeed& operator=(const TMeterFeed&) = delete;

    // Waits while the queue is full, so a slow meter holds back the feeder rather than
    // letting the copies grow without bound.
    void Add(std::span<const std::uint8_t> pcm);
    // The meter forgets what it was fed before this point (the audio is being written again).
    void Restart();
    void Drain();

    static constexpr std::size_t kMostQueued = 16;

private:
    struct TItem {
        bool restart = false;
        std::vector<std::uint8_t> pcm;
    };
    void Run();

    std::shared_ptr<TLoudnessMeter> meter_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<TItem> queue_;
    bool busy_ = false; // the worker is measuring an item it has taken off the queue
    bool ending_ = false;
    std::thread worker_;
};

} // namespace audio
