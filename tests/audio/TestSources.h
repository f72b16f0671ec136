#pragma once
// In-memory sources and sinks for pipeline tests.
#include "audio/ACS_Classes.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace audio::test {

using testsupport::S16Samples;

using Bytes = std::vector<std::uint8_t>;

inline Bytes Pcm16(const std::vector<std::int16_t>& samples) {
    Bytes out(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<std::uint16_t>(samples[i]);
        out[2 * i] = static_cast<std::uint8_t>(u & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    return out;
}

// Interleaved 16-bit sine frames; freqs holds one frequency per channel.
inline Bytes SinePcm(std::int32_t rate, const std::vector<double>& freqs, double seconds,
                     double amplitude) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> s(frames * freqs.size());
    for (std::size_t n = 0; n < frames; ++n) {
        for (std::size_t c = 0; c < freqs.size(); ++c) {
            s[n * freqs.size() + c] = static_cast<std::int16_t>(
                std::lround(amplitude * std::sin(2 * std::numbers::pi * freqs[c] *
                                                 static_cast<double>(n) / rate)));
        }
    }
    return Pcm16(s);
}

// The least-squares sine of a known frequency in x (one channel): x ~ a sin + b cos.
struct ToneFit {
    double a = 0;
    double b = 0;
    double Amplitude() const { return std::hypot(a, b); }
};

inline ToneFit FitTone(const std::vector<double>& x, double freq, double rate) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        ss += std::sin(w) * std::sin(w);
        sc += std::sin(w) * std::cos(w);
        cc += std::cos(w) * std::cos(w);
        xs += x[i] * std::sin(w);
        xc += x[i] * std::cos(w);
    }
    const double det = ss * cc - sc * sc;
    return {(xs * cc - xc * sc) / det, (xc * ss - xs * sc) / det};
}

// Signal to noise-and-distortion of a tone of known frequency in x (one channel): the
// least-squares sine is the signal, everything else (an offset included) is noise and
// distortion.
inline double SinadDb(const std::vector<double>& x, double freq, double rate) {
    const ToneFit tone = FitTone(x, freq, rate);
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 2 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        const double fit = tone.a * std::sin(w) + tone.b * std::cos(w);
        signal += fit * fit;
        noise += (x[i] - fit) * (x[i] - fit);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

// Runs a sink to its end; returns the exception text, or "" when it ended with OnDone.
inline std::string RunToEnd(TACSOutput& out) {
    std::promise<std::string> ended;
    out.OnDone = [&](TACSOutput*) { ended.set_value(""); };
    out.OnThreadException = [&](TACSOutput*, const std::exception& e) {
        ended.set_value(e.what());
    };
    auto result = ended.get_future();
    out.Run();
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        return "timed out";
    }
    return result.get();
}

// A source over a byte vector. It can deliver in small chunks, report an open size, fail
// after some bytes, and hold a GetData call at a gate until the test opens it.
class TMemorySource : public TACSInput {
public:
    TMemorySource(Bytes data, std::int32_t rate, std::int32_t channels, std::int32_t bits)
        : data_(std::move(data)), rate_(rate), channels_(channels), bits_(bits) {}
    ~TMemorySource() override { DetachUsers(); }

    std::int32_t BitsPerSample() override { return bits_; }
    std::int32_t Channels() override { return channels_; }
    std::int32_t SampleRate() override { return rate_; }

    void Init() override {
        ++inits;
        FBusy = true;
        FPosition = 0;
        FSize = openSize ? -1 : static_cast<std::int32_t>(data_.size());
        offset_ = 0;
        calls_ = 0;
    }
    void Flush() override {
        ++flushes;
        FBusy = false;
    }
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override {
        if (!FBusy) {
            throw EACSException("The Stream is not opened");
        }
        ++calls_;
        if (gateFromCall > 0 && calls_ >= gateFromCall) {
            waitingAtGate = true;
            while (!gateOpen && !TakePass()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            waitingAtGate = false;
        }
        if (failAfter >= 0 && offset_ >= static_cast<std::size_t>(failAfter)) {
            throw EACSException("read failed");
        }
        std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(bufferSize), data_.size() - offset_);
        if (chunk > 0) {
            n = std::min<std::size_t>(n, static_cast<std::size_t>(chunk));
        }
        if (n > 0) {
            std::memcpy(buffer, data_.data() + offset_, n);
        }
        offset_ += n;
        FPosition += static_cast<std::int32_t>(n);
        return static_cast<std::int32_t>(n);
    }
    // Lets exactly one call through the closed gate.
    void AllowOneCall() { ++*passes_; }
    // The pass counter, for a test that must keep handing out passes while this source is
    // being destroyed.
    std::shared_ptr<std::atomic<int>> Passes() const { return passes_; }
    // Lets a test put the position anywhere for Progress arithmetic.
    void SetPosition(std::int32_t value) { FPosition = value; }

    const Bytes& data() const { return data_; }

    std::int32_t chunk = 0;        // most bytes per GetData, 0 = no limit
    bool openSize = false;         // report Size -1
    std::int64_t failAfter = -1;   // throw once this many bytes were delivered
    std::int32_t gateFromCall = 0; // hold calls from this number on (1-based) until gateOpen
    std::atomic<bool> gateOpen{false};
    std::atomic<bool> waitingAtGate{false};
    std::atomic<int> inits{0};
    std::atomic<int> flushes{0};

private:
    bool TakePass() {
        int n = passes_->load();
        while (n > 0) {
            if (passes_->compare_exchange_weak(n, n - 1)) {
                return true;
            }
        }
        return false;
    }

    std::shared_ptr<std::atomic<int>> passes_ = std::make_shared<std::atomic<int>>(0);
    Bytes data_;
    std::int32_t rate_;
    std::int32_t channels_;
    std::int32_t bits_;
    std::size_t offset_ = 0;
    std::int32_t calls_ = 0;
};

// A filter that passes its input through unchanged.
class TPassFilter : public TACSConverter {
public:
    ~TPassFilter() override { DetachUsers(); }
    std::int32_t BitsPerSample() override { return RequireInput().BitsPerSample(); }
    std::int32_t Channels() override { return RequireInput().Channels(); }
    std::int32_t SampleRate() override { return RequireInput().SampleRate(); }
    void Init() override {
        RequireInput().Init();
        FBusy = true;
        FPosition = 0;
        FSize = RequireInput().Size();
    }
    void Flush() override {
        if (TACSInput* input = Input()) {
            input->Flush();
        }
        FBusy = false;
    }
    std::int32_t GetData(void* buffer, std::int32_t bufferSize) override {
        const std::int32_t n = ReadInput(buffer, bufferSize);
        FPosition += n;
        return n;
    }
};

// Records what a sink's events report, and lets a test wait for them.
class TEventLog {
public:
    void Attach(TACSOutput& sink) {
        sink.OnDone = [this](TACSOutput*) { Note(done_, doneThread_); };
        sink.OnProgress = [this, &sink](TACSOutput*) {
            const std::int32_t p = sink.Progress();
            std::lock_guard lock(mutex_);
            progress_.push_back(p);
        };
        sink.OnThreadException = [this](TACSOutput*, const std::exception& e) {
            {
                std::lock_guard lock(mutex_);
                message_ = e.what();
            }
            Note(failures_, failureThread_);
        };
    }
    // True when done + failures reached n within the time limit.
    bool WaitForEnds(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return done_ + failures_ >= n; });
    }
    int Done() { return Read(done_); }
    int Failures() { return Read(failures_); }
    std::vector<std::int32_t> Progress() { return Read(progress_); }
    std::string LastMessage() { return Read(message_); }
    std::thread::id DoneThread() { return Read(doneThread_); }
    std::thread::id FailureThread() { return Read(failureThread_); }

private:
    void Note(int& counter, std::thread::id& thread) {
        std::lock_guard lock(mutex_);
        ++counter;
        thread = std::this_thread::get_id();
        changed_.notify_all();
    }
    template <typename T> T Read(const T& field) {
        std::lock_guard lock(mutex_);
        return field;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    int done_ = 0;
    int failures_ = 0;
    std::vector<std::int32_t> progress_;
    std::string message_;
    std::thread::id doneThread_;
    std::thread::id failureThread_;
};

// A sink that collects what it pulls, following the usual step pattern.
class TMemorySink : public TACSOutput {
public:
    ~TMemorySink() override { ShutdownWorker(); }

    Bytes Collected() {
        std::lock_guard lock(mutex_);
        return collected_;
    }
    std::size_t CollectedSize() {
        std::lock_guard lock(mutex_);
        return collected_.size();
    }

    std::int32_t blockSize = 4096;
    bool failPrepare = false;
    std::atomic<int> prepares{0};
    std::atomic<int> finishes{0};
    std::atomic<std::thread::id> stepThread{};

protected:
    void Prepare() override {
        ++prepares;
        if (failPrepare) {
            throw EACSException("cannot open the destination");
        }
        {
            std::lock_guard lock(mutex_);
            collected_.clear();
        }
        Input()->Init();
    }
    bool OutputStep(bool abort) override {
        if (!FOutputEnabled) {
            return true;
        }
        stepThread = std::this_thread::get_id();
        CheckProgress();
        if (abort) {
            return false;
        }
        std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSize));
        const std::int32_t n = ReadInput(block.data(), blockSize);
        if (n > 0) {
            std::lock_guard lock(mutex_);
            collected_.insert(collected_.end(), block.begin(), block.begin() + n);
        }
        return n > 0;
    }
    void Finish() override {
        ++finishes;
        FlushInput();
    }

private:
    std::mutex mutex_;
    Bytes collected_;
};

using testsupport::WaitUntil;

// The message of the EACSException fn raises, or "(nothing raised)".
inline std::string MessageOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const EACSException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace audio::test
