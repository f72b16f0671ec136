#include "platform/MciWaveAudio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"
#include "bytes/WavHeader.h"
#include "platform/Process.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kHeaderSize = bytes::kPcmWavHeaderBytes;
// The header of a growing file is rewritten this often, so a kill loses at most this much.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);
constexpr int kRecordBuffers = 16;
constexpr int kPlayBuffers = 6;
constexpr uint32_t kPlayBufferBytes = 16384;

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

ssize_t ReadAt(int fd, void* data, size_t size, uint64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, data, size, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

// Copies size bytes from one file to another, each at its own offset.
bool CopyRange(int from, uint64_t fromOffset, int to, uint64_t toOffset, uint64_t size,
               std::string& error) {
    std::vector<uint8_t> buffer(1 << 20);
    while (size > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
        const ssize_t n = ReadAt(from, buffer.data(), want, fromOffset);
        if (n <= 0) {
            error = n == 0 ? "The sound file is shorter than its header says"
                           : SystemError("Cannot read the sound file");
            return false;
        }
        if (!WriteAllAt(to, buffer.data(), static_cast<size_t>(n), toOffset)) {
            error = SystemError("Cannot write the sound file");
            return false;
        }
        fromOffset += static_cast<uint64_t>(n);
        toOffset += static_cast<uint64_t>(n);
        size -= static_cast<uint64_t>(n);
    }
    return true;
}

std::array<uint8_t, kHeaderSize> CanonicalHeader(uint16_t channels, uint32_t rate, uint16_t bits,
                                                 uint32_t dataBytes) {
    return bytes::PcmWavHeader(bytes::WaveFormatRecord::Pcm(channels, rate, bits), dataBytes);
}

// Rewrites the RIFF and data sizes of a file whose data chunk starts at dataOffset and is
// followed by trailingBytes of other chunks.
bool WriteSizes(int fd, uint64_t dataOffset, uint64_t dataBytes, uint64_t trailingBytes = 0) {
    std::array<uint8_t, 4> riff{};
    std::array<uint8_t, 4> data{};
    const uint64_t riffSize = dataOffset + dataBytes + (dataBytes & 1) + trailingBytes - 8;
    bytes::PutLe32(riff.data(), bytes::ClampU32(riffSize));
    bytes::PutLe32(data.data(), bytes::ClampU32(dataBytes));
    return WriteAllAt(fd, riff.data(), 4, bytes::kRiffSizeOffset) &&
           WriteAllAt(fd, data.data(), 4, dataOffset - 4);
}

WAVEFORMATEX PcmFormat(const WavLayout& layout) {
    return PcmWaveFormat(layout.channels, layout.rate, layout.bits);
}

} // namespace

std::optional<WavLayout> ReadWavLayout(const std::string& path, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        error = SystemError("Cannot open " + path);
        return std::nullopt;
    }
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    std::array<uint8_t, 12> riff{};
    if (ReadAt(fd.Get(), riff.data(), riff.size(), 0) != 12 || !bytes::IdIs(riff.data(), "RIFF") ||
        !bytes::IdIs(&riff[8], "WAVE")) {
        error = path + " is not a WAV file";
        return std::nullopt;
    }
    WavLayout layout;
    bool haveFormat = false;
    uint64_t offset = 12;
    while (offset + bytes::kChunkHeaderBytes <= fileSize) {
        std::array<uint8_t, bytes::kWaveFormatRecordBytes> raw{};
        if (ReadAt(fd.Get(), raw.data(), bytes::kChunkHeaderBytes, offset) !=
            static_cast<ssize_t>(bytes::kChunkHeaderBytes)) {
            break;
        }
        const bytes::ChunkHeader chunk = bytes::ParseChunkHeader(raw.data());
        const uint64_t size = chunk.size;
        if (chunk.Is("fmt ")) {
            if (size < raw.size() || ReadAt(fd.Get(), raw.data(), raw.size(), offset + 8) !=
                                         static_cast<ssize_t>(raw.size())) {
                break;
            }
            const bytes::WaveFormatRecord format = bytes::ParseWaveFormatRecord(raw.data());
            haveFormat = format.formatTag == bytes::kWaveFormatPcm;
            layout.channels = format.channels;
            layout.rate = format.sampleRate;
            layout.bits = format.bitsPerSample;
        } else if (chunk.Is("data")) {
            const bool valid = haveFormat && (layout.bits == 8 || layout.bits == 16) &&
                               (layout.channels == 1 || layout.channels == 2) &&
                               layout.rate >= 1000 && layout.rate <= 192000;
            if (!valid) {
                error = path + " is not a PCM WAV file of 8 or 16 bits, mono or stereo";
                return std::nullopt;
            }
            layout.dataOffset = offset + 8;
            const uint64_t present = std::min(size, fileSize - layout.dataOffset);
            layout.dataBytes = present - present % layout.BlockAlign();
            layout.dataIsLast = layout.dataOffset + size >= fileSize;
            if (!layout.dataIsLast) {
                layout.trailingOffset =
                    std::min(bytes::NextChunkOffset(offset, chunk.size), fileSize);
                layout.trailingBytes = fileSize - layout.trailingOffset;
            }
            return layout;
        }
        offset = bytes::NextChunkOffset(offset, chunk.size);
    }
    error = path + " is not a PCM WAV file of 8 or 16 bits, mono or stereo";
    return std::nullopt;
}

bool WriteEmptyWav(const std::string& path, uint16_t channels, uint32_t rate, uint16_t bits) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd) {
        return false;
    }
    const auto header = CanonicalHeader(channels, rate, bits, 0);
    return WriteAllAt(fd.Get(), header.data(), header.size(), 0) && ::close(fd.Release()) == 0;
}

// Plays part of the file through the default sink on a thread of its own.
class MciWaveAudio::Player {
public:
    Player(UniqueFd fd, const WavLayout& layout, uint64_t start, Notify notify)
        : fd_(std::move(fd)), layout_(layout), next_(start), played_(start),
          notify_(std::move(notify)) {}

    ~Player() {
        RequestStop();
        if (thread_.joinable()) {
            thread_.join();
        }
        if (device_ != nullptr) {
            waveOutClose(device_);
        }
    }

    bool Start(std::string& error) {
        const WAVEFORMATEX format = PcmFormat(layout_);
        const MMRESULT result = waveOutOpen(&device_, WAVE_MAPPER, &format, OnDone,
                                            reinterpret_cast<uintptr_t>(this), CALLBACK_FUNCTION);
        if (result != MMSYSERR_NOERROR) {
            error = result == MMSYSERR_NODRIVER ? "No sound server answers"
                                                : "The sound output could not be opened";
            device_ = nullptr;
            return false;
        }
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    void RequestStop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
    }
    bool Finished() const { return finished_.load(); }
    uint64_t Played() const { return played_.load(); }

private:
    struct Buffer {
        std::vector<char> data = std::vector<char>(kPlayBufferBytes);
        WAVEHDR header;
    };

    static void OnDone(HWAVEOUT, uint32_t message, uintptr_t instance, uintptr_t param1,
                       uintptr_t) {
        if (message != WOM_DONE) {
            return;
        }
        auto* self = reinterpret_cast<Player*>(instance);
        auto* header = reinterpret_cast<WAVEHDR*>(param1);
        {
            std::lock_guard lock(self->mutex_);
            self->free_.push_back(header);
            self->played_ += header->dwBufferLength;
        }
        self->wake_.notify_all();
    }

    // Reads the next piece into header; false at the end of the sound.
    bool Fill(WAVEHDR* header) {
        const uint64_t left = layout_.dataBytes - std::min(next_, layout_.dataBytes);
        const auto want = static_cast<size_t>(std::min<uint64_t>(left, kPlayBufferBytes));
        const ssize_t n =
            want == 0 ? 0 : ReadAt(fd_.Get(), header->lpData, want, layout_.dataOffset + next_);
        if (n <= 0) {
            return false;
        }
        header->dwBufferLength = static_cast<uint32_t>(n);
        next_ += static_cast<uint64_t>(n);
        return true;
    }

    void Run() {
        std::vector<Buffer> buffers(kPlayBuffers);
        for (Buffer& buffer : buffers) {
            buffer.header.lpData = buffer.data.data();
            waveOutPrepareHeader(device_, &buffer.header, sizeof(WAVEHDR));
            free_.push_back(&buffer.header);
        }
        bool aborted = false;
        bool atEnd = false;
        std::unique_lock lock(mutex_);
        for (;;) {
            while (!stop_ && !atEnd && !free_.empty()) {
                WAVEHDR* header = free_.front();
                free_.pop_front();
                lock.unlock();
                atEnd = !Fill(header);
                if (!atEnd) {
                    waveOutWrite(device_, header, sizeof(WAVEHDR));
                }
                lock.lock();
                if (atEnd) {
                    free_.push_back(header);
                }
            }
            if (stop_) {
                aborted = true;
                lock.unlock();
                waveOutReset(device_);
                lock.lock();
            }
            if (free_.size() == buffers.size() && (atEnd || aborted)) {
                break;
            }
            wake_.wait(lock);
        }
        lock.unlock();
        for (Buffer& buffer : buffers) {
            waveOutUnprepareHeader(device_, &buffer.header, sizeof(WAVEHDR));
        }
        finished_ = true;
        if (notify_) {
            notify_(aborted ? MciNotify::Aborted : MciNotify::Successful);
        }
    }

    UniqueFd fd_;
    WavLayout layout_;
    uint64_t next_; // worker only: the next byte to queue
    std::atomic<uint64_t> played_;
    Notify notify_;
    HWAVEOUT device_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<WAVEHDR*> free_;
    bool stop_ = false;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Captures from the default source into the file (in place at the end of the sound, or
// through "<file>.recording" for an insertion) on a writer thread of its own.
class MciWaveAudio::Recorder {
public:
    struct Result {
        bool ok = true;
        std::string error;
        uint64_t recorded = 0;
        WavLayout layout; // of the file after the recording
    };

    Recorder(std::string path, const WavLayout& layout, uint64_t insertAt, Notify notify)
        : path_(std::move(path)), original_(layout), insertAt_(insertAt),
          notify_(std::move(notify)) {}

    ~Recorder() {
        RequestStop();
        if (thread_.joinable()) {
            thread_.join();
        }
        if (device_ != nullptr) {
            waveInClose(device_);
        }
    }

    bool Start(std::string& error) {
        if (!OpenDevice(error) || !OpenTarget(error)) {
            return false;
        }
        buffers_.resize(kRecordBuffers);
        const uint32_t block = original_.BlockAlign();
        const uint32_t bytes = std::max(block, original_.BytesPerSecond() / 10 / block * block);
        for (Buffer& buffer : buffers_) {
            buffer.data.resize(bytes);
            buffer.header.lpData = buffer.data.data();
            buffer.header.dwBufferLength = bytes;
            waveInPrepareHeader(device_, &buffer.header, sizeof(WAVEHDR));
            waveInAddBuffer(device_, &buffer.header, sizeof(WAVEHDR));
        }
        outstanding_ = kRecordBuffers;
        lastHeader_ = Clock::now();
        thread_ = std::thread([this] { Run(); });
        if (waveInStart(device_) != MMSYSERR_NOERROR) {
            error = "The sound source did not start recording";
            notify_ = nullptr;
            RequestStop();
            thread_.join();
            if (!tempPath_.empty()) {
                ::unlink(tempPath_.c_str());
            }
            return false;
        }
        return true;
    }

    // Ends the capture; the writer then saves and finishes.
    void RequestStop() {
        {
            std::lock_guard lock(addMutex_);
            if (stopping_) {
                return;
            }
            stopping_ = true;
        }
        if (device_ != nullptr) {
            waveInReset(device_);
        }
    }

    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool Finished() const { return finished_.load(); }
    uint64_t Recorded() const { return recorded_.load(); }
    const Result& Outcome() const { return result_; }
    WaveInStatus Status() const {
        WaveInStatus status;
        if (device_ != nullptr) {
            waveInGetStatus(device_, &status);
        }
        return status;
    }

private:
    struct Buffer {
        std::vector<char> data;
        WAVEHDR header;
    };

    bool OpenDevice(std::string& error) {
        const WAVEFORMATEX format = PcmFormat(original_);
        const MMRESULT result = waveInOpen(&device_, WAVE_MAPPER, &format, OnData,
                                           reinterpret_cast<uintptr_t>(this), CALLBACK_FUNCTION);
        if (result == MMSYSERR_NOERROR) {
            return true;
        }
        device_ = nullptr;
        error = result == MMSYSERR_NODRIVER
                    ? "No sound server answers, so there is nothing to record from"
                    : "There is no sound source to record from";
        return false;
    }

    // Opens the file the sound goes into and writes what comes before the insertion point.
    bool OpenTarget(std::string& error) {
        inPlace_ = original_.dataIsLast && insertAt_ >= original_.dataBytes;
        if (inPlace_) {
            fd_.Reset(::open(path_.c_str(), O_RDWR | O_CLOEXEC));
            if (!fd_) {
                error = SystemError("Cannot write to " + path_);
                return false;
            }
            dataOffset_ = original_.dataOffset;
            base_ = original_.dataBytes;
            return true;
        }
        struct stat st {};
        const mode_t mode = ::stat(path_.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
        tempPath_ = path_ + ".recording";
        fd_.Reset(::open(tempPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
        source_.Reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd_ || !source_) {
            error = SystemError("Cannot write to " + (fd_ ? path_ : tempPath_));
            if (fd_) {
                ::unlink(tempPath_.c_str());
            }
            tempPath_.clear();
            return false;
        }
        // The chunks before the sound (format, LIST/INFO, ...) are kept as they are.
        dataOffset_ = original_.dataOffset;
        base_ = insertAt_;
        if (!CopyRange(source_.Get(), 0, fd_.Get(), 0, dataOffset_ + insertAt_, error) ||
            !WriteSizes(fd_.Get(), dataOffset_, insertAt_)) {
            if (error.empty()) {
                error = SystemError("Cannot write to " + tempPath_);
            }
            ::unlink(tempPath_.c_str());
            tempPath_.clear();
            return false;
        }
        return true;
    }

    static void OnData(HWAVEIN, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t) {
        if (message != WIM_DATA) {
            return;
        }
        auto* self = reinterpret_cast<Recorder*>(instance);
        {
            std::lock_guard lock(self->mutex_);
            self->filled_.push_back(reinterpret_cast<WAVEHDR*>(param1));
        }
        self->wake_.notify_all();
    }

    WAVEHDR* NextFilled() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !filled_.empty(); });
        WAVEHDR* header = filled_.front();
        filled_.pop_front();
        return header;
    }

    void Write(const WAVEHDR* header) {
        const uint32_t block = original_.BlockAlign();
        const uint64_t bytes = header->dwBytesRecorded - header->dwBytesRecorded % block;
        if (bytes == 0 || !result_.ok) {
            return;
        }
        const uint64_t at = dataOffset_ + base_ + recorded_.load();
        if (!WriteAllAt(fd_.Get(), header->lpData, bytes, at)) {
            result_.ok = false;
            result_.error = SystemError("Cannot write the recording to " + path_);
            ::ftruncate(fd_.Get(), static_cast<off_t>(dataOffset_ + base_ + recorded_.load()));
            return;
        }
        recorded_ += bytes;
        if (Clock::now() - lastHeader_ >= kHeaderInterval) {
            WriteSizes(fd_.Get(), dataOffset_, base_ + recorded_.load());
            lastHeader_ = Clock::now();
        }
    }

    // Gives the buffer back to the device unless the recording is ending.
    bool Requeue(WAVEHDR* header) {
        std::lock_guard lock(addMutex_);
        if (stopping_ || !result_.ok) {
            return false;
        }
        WaveInStatus status;
        waveInGetStatus(device_, &status);
        if (status.failed) {
            return false;
        }
        return waveInAddBuffer(device_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    }

    void Run() {
        while (outstanding_ > 0) {
            WAVEHDR* header = NextFilled();
            Write(header);
            if (!result_.ok) {
                RequestStop();
            }
            if (!Requeue(header)) {
                --outstanding_;
            }
        }
        Finish();
        WaveInStatus status = Status();
        if (result_.ok && status.failed) {
            result_.ok = false;
            result_.error = "The sound server stopped the recording; what was recorded "
                            "until then is kept";
        }
        finished_ = true;
        if (notify_) {
            notify_(result_.ok ? MciNotify::Successful : MciNotify::Failure);
        }
    }

    // Completes the file: header, pad byte, the sound after an insertion, the rename.
    void Finish() {
        result_.recorded = recorded_.load();
        const uint64_t total = base_ + recorded_.load();
        result_.layout = original_;
        if (inPlace_) {
            const uint64_t end = dataOffset_ + total;
            bool ok = WriteSizes(fd_.Get(), dataOffset_, total);
            if (total & 1) {
                const uint8_t pad = 0;
                ok = ok && WriteAllAt(fd_.Get(), &pad, 1, end);
            }
            ok = ok && ::ftruncate(fd_.Get(), static_cast<off_t>(end + (total & 1))) == 0 &&
                 ::fsync(fd_.Get()) == 0;
            if (!ok && result_.ok) {
                result_.ok = false;
                result_.error = SystemError("Cannot save " + path_);
            }
            result_.layout.dataBytes = total;
            return;
        }
        FinishInsertion();
    }

    void FinishInsertion() {
        const uint64_t after = original_.dataBytes - insertAt_;
        const uint64_t total = base_ + recorded_.load() + after;
        std::string error;
        bool ok =
            result_.ok && CopyRange(source_.Get(), original_.dataOffset + insertAt_, fd_.Get(),
                                    dataOffset_ + base_ + recorded_.load(), after, error);
        if (ok && (total & 1)) {
            const uint8_t pad = 0;
            ok = WriteAllAt(fd_.Get(), &pad, 1, dataOffset_ + total);
        }
        const uint64_t trailingOffset = dataOffset_ + total + (total & 1);
        ok = ok && CopyRange(source_.Get(), original_.trailingOffset, fd_.Get(), trailingOffset,
                             original_.trailingBytes, error);
        ok = ok && WriteSizes(fd_.Get(), dataOffset_, total, original_.trailingBytes) &&
             ::fsync(fd_.Get()) == 0 && ::close(fd_.Release()) == 0 &&
             ::rename(tempPath_.c_str(), path_.c_str()) == 0;
        if (!ok) {
            if (result_.ok) {
                result_.ok = false;
                result_.error = error.empty() ? SystemError("Cannot save " + path_) : error;
            }
            result_.recorded = 0;
            fd_.Reset();
            ::unlink(tempPath_.c_str());
            return; // the file keeps its old sound and layout
        }
        result_.layout.dataOffset = dataOffset_;
        result_.layout.dataBytes = total;
        result_.layout.dataIsLast = original_.trailingBytes == 0;
        result_.layout.trailingOffset = trailingOffset;
    }

    std::string path_;
    std::string tempPath_;
    WavLayout original_;
    uint64_t insertAt_;
    Notify notify_;
    HWAVEIN device_ = nullptr;
    UniqueFd fd_;     // the file being written
    UniqueFd source_; // the original, for an insertion
    bool inPlace_ = false;
    uint64_t dataOffset_ = 0;
    uint64_t base_ = 0; // sound bytes before the new recording
    std::vector<Buffer> buffers_;
    int outstanding_ = 0; // writer only: buffers not yet back for good
    Clock::time_point lastHeader_;
    std::atomic<uint64_t> recorded_{0};
    Result result_; // writer only until finished_

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<WAVEHDR*> filled_;
    std::mutex addMutex_;
    bool stopping_ = false;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

MciWaveAudio::MciWaveAudio() = default;

MciWaveAudio::~MciWaveAudio() {
    Close();
}

bool MciWaveAudio::Open(const std::string& path) {
    Close();
    error_.clear();
    const auto layout = ReadWavLayout(path, error_);
    if (!layout) {
        return false;
    }
    path_ = path;
    layout_ = *layout;
    position_ = 0;
    return true;
}

void MciWaveAudio::Close() {
    EndPlay();
    EndRecording();
    path_.clear();
    layout_ = {};
    position_ = 0;
}

void MciWaveAudio::Reap() {
    if (player_ && player_->Finished()) {
        EndPlay();
    }
    if (recorder_ && recorder_->Finished()) {
        EndRecording();
    }
}

WaveAudioMode MciWaveAudio::Mode() {
    Reap();
    if (!IsOpen()) {
        return WaveAudioMode::NotReady;
    }
    if (recorder_) {
        return WaveAudioMode::Recording;
    }
    return player_ ? WaveAudioMode::Playing : WaveAudioMode::Stopped;
}

int64_t MciWaveAudio::LengthMs() {
    Reap();
    const uint64_t recording = recorder_ ? recorder_->Recorded() : 0;
    return MsOf(layout_.dataBytes + recording);
}

int64_t MciWaveAudio::PositionMs() {
    Reap();
    if (player_) {
        return MsOf(player_->Played());
    }
    return MsOf(position_ + (recorder_ ? recorder_->Recorded() : 0));
}

uint64_t MciWaveAudio::BytesAt(int64_t ms) const {
    const uint32_t block = layout_.BlockAlign();
    if (ms <= 0 || block == 0) {
        return 0;
    }
    // The length shown is cut to whole milliseconds: a position at (or past) it means the
    // end of the sound, not up to a millisecond before the last frames.
    if (ms >= MsOf(layout_.dataBytes)) {
        return layout_.dataBytes;
    }
    const uint64_t frames = static_cast<uint64_t>(ms) * layout_.rate / 1000;
    return std::min(frames * block, layout_.dataBytes);
}

int64_t MciWaveAudio::MsOf(uint64_t bytes) const {
    const uint32_t perSecond = layout_.BytesPerSecond();
    return perSecond == 0 ? 0 : static_cast<int64_t>(bytes * 1000 / perSecond);
}

bool MciWaveAudio::Play(std::optional<int64_t> fromMs, Notify notify) {
    Reap();
    if (!IsOpen()) {
        error_ = "No sound file is open";
        return false;
    }
    EndPlay();
    if (recorder_ && !EndRecording()) {
        return false;
    }
    if (fromMs) {
        position_ = BytesAt(*fromMs);
    }
    if (position_ >= layout_.dataBytes) {
        position_ = 0;
    }
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        error_ = SystemError("Cannot open " + path_);
        return false;
    }
    auto player = std::make_unique<Player>(std::move(fd), layout_, position_, std::move(notify));
    if (!player->Start(error_)) {
        return false;
    }
    player_ = std::move(player);
    return true;
}

bool MciWaveAudio::Record(std::optional<int64_t> fromMs, Notify notify) {
    Reap();
    if (!IsOpen()) {
        error_ = "No sound file is open";
        return false;
    }
    EndPlay();
    if (recorder_) {
        return true; // already recording
    }
    if (fromMs) {
        position_ = BytesAt(*fromMs);
    }
    position_ = std::min(position_, layout_.dataBytes);
    auto recorder = std::make_unique<Recorder>(path_, layout_, position_, std::move(notify));
    error_.clear();
    if (!recorder->Start(error_)) {
        return false;
    }
    recorder_ = std::move(recorder);
    return true;
}

void MciWaveAudio::EndPlay() {
    if (!player_) {
        return;
    }
    const uint64_t played = player_->Played();
    player_.reset(); // stops, waits for the queued buffers, closes the output
    position_ = std::min(played, layout_.dataBytes);
}

bool MciWaveAudio::EndRecording() {
    if (!recorder_) {
        return true;
    }
    recorder_->RequestStop();
    recorder_->Join();
    const Recorder::Result& result = recorder_->Outcome();
    lastRecording_ = recorder_->Status();
    layout_ = result.layout;
    position_ = std::min(position_ + result.recorded, layout_.dataBytes);
    if (!result.ok) {
        error_ = result.error;
    }
    const bool ok = result.ok;
    recorder_.reset();
    return ok;
}

bool MciWaveAudio::Stop() {
    Reap();
    EndPlay();
    return EndRecording();
}

bool MciWaveAudio::Save() {
    Reap();
    return EndRecording();
}

void MciWaveAudio::SeekToStart() {
    Reap();
    EndPlay();
    position_ = 0;
}

void MciWaveAudio::SeekToEnd() {
    Reap();
    EndPlay();
    position_ = layout_.dataBytes;
}

} // namespace platform
