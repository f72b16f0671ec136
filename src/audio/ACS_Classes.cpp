#include "audio/ACS_Classes.h"
#include "platform/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <istream>

namespace audio {

// ---- TSpinFlag ------------------------------------------------------------------------------

void TSpinFlag::Acquire() noexcept {
    while (waiters_.load(std::memory_order_acquire) > 0) {
        std::this_thread::yield();
    }
    if (!flag_.exchange(true, std::memory_order_acquire)) {
        return;
    }
    waiters_.fetch_add(1, std::memory_order_acq_rel);
    while (flag_.exchange(true, std::memory_order_acquire)) {
        while (flag_.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
    }
    waiters_.fetch_sub(1, std::memory_order_acq_rel);
}

// ---- TACSInput ------------------------------------------------------------------------------

TACSInput::~TACSInput() {
    DetachUsers();
}

std::int32_t TACSInput::TotalTime() {
    return 0;
}

void TACSInput::Reset() {
    try {
        Flush();
    } catch (...) {
        // a source that cannot flush is still reset
        platform::LogSwallowedException("resetting an input");
    }
    FBusy = false;
}

void TACSInput::AddUser(IInputUser* user) {
    std::lock_guard lock(usersMutex_);
    if (std::find(users_.begin(), users_.end(), user) == users_.end()) {
        users_.push_back(user);
    }
}

void TACSInput::RemoveUser(IInputUser* user) {
    std::lock_guard lock(usersMutex_);
    std::erase(users_, user);
}

void TACSInput::DetachUsers() {
    std::vector<IInputUser*> users;
    {
        std::lock_guard lock(usersMutex_);
        users.swap(users_);
    }
    // Outside the lock: each user removes itself from this input while clearing its Input.
    for (IInputUser* user : users) {
        user->InputFreed(this);
    }
}

// ---- TACSStreamedInput ----------------------------------------------------------------------

TACSStreamedInput::TACSStreamedInput() = default;
TACSStreamedInput::~TACSStreamedInput() {
    DetachUsers();
}

// ---- TACSFileIn -----------------------------------------------------------------------------

TACSFileIn::TACSFileIn() = default;
TACSFileIn::~TACSFileIn() {
    DetachUsers();
}

std::int32_t TACSFileIn::FormatField(const std::int32_t& field) {
    std::lock_guard lock(FFileLock);
    OpenFile();
    const std::int32_t value = field;
    CloseFile();
    return value;
}

std::int32_t TACSFileIn::BitsPerSample() {
    return FormatField(FBitsPerSample);
}

std::int32_t TACSFileIn::Channels() {
    return FormatField(FChannels);
}

std::int32_t TACSFileIn::SampleRate() {
    return FormatField(FSampleRate);
}

std::int32_t TACSFileIn::TotalTime() {
    std::lock_guard lock(FFileLock);
    OpenFile();
    std::int32_t result = 0;
    // bits below 8 would make the byte rate 0: such a stream has no known duration either
    const std::int64_t bytesPerSecond =
        std::int64_t{FSampleRate} * FChannels * (FBitsPerSample / 8);
    if (FSampleRate != 0 && FChannels != 0 && FBitsPerSample != 0 && bytesPerSecond != 0) {
        result = static_cast<std::int32_t>(std::nearbyint(static_cast<double>(FSize.load()) /
                                                          static_cast<double>(bytesPerSecond)));
    }
    CloseFile();
    return result;
}

bool TACSFileIn::Valid() {
    if (FFileName.empty()) {
        return false;
    }
    std::lock_guard lock(FFileLock);
    OpenFile();
    const bool value = FValid;
    CloseFile();
    return value;
}

void TACSFileIn::Init() {
    std::lock_guard lock(FFileLock);
    if (FBusy) {
        throw EACSException("The component is buisy");
    }
    if (FFileName.empty()) {
        throw EACSException("The file name is not assigned");
    }
    const std::int32_t opened = FOpenCount;
    OpenFile();
    if (FOpenCount == opened) {
        // A reader that could not open its file does not count the open; going on would
        // leave a busy source without a stream behind it.
        throw EACSException("The Stream is not opened");
    }
    if (FStartSample != 0) {
        Seek(FStartSample);
    }
    if (FStartSample != 0 || FEndSample != -1) {
        const std::int64_t frames = FEndSample == -1 ? std::int64_t{FTotalSamples} - FStartSample
                                                     : std::int64_t{FEndSample} - FStartSample;
        FSize = static_cast<std::int32_t>(frames * (FBitsPerSample / 8) * FChannels);
    }
    FBusy = true;
    FBufferStart = 1;
    FBufferEnd = 0;
    FPosition = 0;
}

void TACSFileIn::Flush() {
    std::lock_guard lock(FFileLock);
    CloseFile();
    FBusy = false;
}

void TACSFileIn::Reset() {
    std::lock_guard lock(FFileLock);
    TACSStreamedInput::Reset();
    FOpenCount = 0;
}

void TACSFileIn::SetFileName(const std::string& value) {
    if (!FBusy) {
        FFileName = value;
    }
}

void TACSFileIn::SetStartSample(std::int32_t value) {
    if (!FBusy) {
        FStartSample = value;
    }
}

void TACSFileIn::SetEndSample(std::int32_t value) {
    if (!FBusy) {
        FEndSample = value;
    }
}

// ---- TACSInputHolder ------------------------------------------------------------------------

TACSInput* TACSInputHolder::ExchangeInput(TACSInput* value) {
    TACSInput* old = nullptr;
    {
        TSpinFlagGuard guard(FInputLock);
        old = FInput.exchange(value);
    }
    if (old != value) {
        if (old != nullptr) {
            old->RemoveUser(this);
        }
        if (value != nullptr) {
            value->AddUser(this);
        }
    }
    return old;
}

void TACSInputHolder::ReplaceInput(TACSInput* value, bool live) {
    if (!live) {
        ExchangeInput(value);
        return;
    }
    // The new input must be ready before the worker can reach it.
    if (value != nullptr) {
        value->Init();
    }
    if (TACSInput* old = ExchangeInput(value); old != nullptr) {
        old->Flush();
    }
}

void TACSInputHolder::InputFreed(TACSInput* input) {
    if (FInput.load() == input) {
        ExchangeInput(nullptr);
    }
}

std::int32_t TACSInputHolder::ReadInput(void* buffer, std::int32_t bufferSize) {
    TSpinFlagGuard guard(FInputLock);
    TACSInput* input = FInput.load();
    return input != nullptr ? input->GetData(buffer, bufferSize) : 0;
}

void TACSInputHolder::FlushInput() {
    TSpinFlagGuard guard(FInputLock);
    if (TACSInput* input = FInput.load()) {
        input->Flush();
    }
}

// ---- TACSConverter --------------------------------------------------------------------------

TACSConverter::~TACSConverter() {
    DetachUsers();
    ExchangeInput(nullptr);
}

void TACSConverter::SetInput(TACSInput* value) {
    if (value == this || value == FInput.load()) {
        return;
    }
    ReplaceInput(value, FBusy);
}

void TACSConverter::ClearInputLocks() {
    FInputLock.Release();
    if (auto* upstream = dynamic_cast<TACSConverter*>(FInput.load())) {
        upstream->ClearInputLocks();
    }
}

TACSInput& TACSConverter::RequireInput() const {
    TACSInput* input = FInput.load();
    if (input == nullptr) {
        throw EACSException("Input not assigned");
    }
    return *input;
}

TACSInput& TACSConverter::StartInput() {
    TACSInput& input = RequireInput();
    input.Init();
    FBusy = true;
    FPosition = 0;
    FBufferStart = 1;
    FBufferEnd = 0;
    FInputLock.Release();
    return input;
}

void TACSConverter::FollowInputPosition(std::int32_t delivered) {
    std::int32_t inputSize = 0;
    std::int32_t inputPosition = 0;
    bool haveInput = false;
    {
        TSpinFlagGuard guard(FInputLock);
        if (TACSInput* input = FInput.load()) {
            haveInput = true;
            inputSize = input->Size();
            inputPosition = input->Position();
        }
    }
    if (FSize < 0 || !haveInput) {
        FPosition += delivered;
    } else if (inputSize > 0) {
        FPosition = static_cast<std::int32_t>(
            std::nearbyint(static_cast<double>(FSize) / inputSize * inputPosition));
    }
}

// ---- TACSThread -----------------------------------------------------------------------------

TACSThread::TACSThread() = default;

TACSThread::~TACSThread() {
    TerminateAndWait();
}

void TACSThread::Wake(bool newRun) {
    std::lock_guard lock(stateMutex_);
    if (newRun) {
        ++generation_;
    }
    suspended_ = false;
    if (!started_) {
        started_ = true;
        thread_ = std::thread([this] { Execute(); });
    }
    wake_.notify_all();
}

void TACSThread::Resume() {
    Wake(false);
}

void TACSThread::BeginRun() {
    Wake(true);
}

void TACSThread::Suspend() {
    std::lock_guard lock(stateMutex_);
    suspended_ = true;
}

bool TACSThread::Suspended() const {
    std::lock_guard lock(stateMutex_);
    return suspended_;
}

bool TACSThread::Started() const {
    std::lock_guard lock(stateMutex_);
    return started_;
}

void TACSThread::SuspendAfterRun(std::uint64_t generation) {
    std::lock_guard lock(stateMutex_);
    // A Run issued after this run ended (from OnDone, or from the GUI as soon as Busy fell)
    // has already woken us for the next run; suspending now would lose it.
    if (generation_ == generation) {
        suspended_ = true;
    }
}

void TACSThread::TerminateAndWait() {
    {
        std::lock_guard lock(stateMutex_);
        if (!started_ || !thread_.joinable()) {
            return;
        }
        terminating_ = true;
        suspended_ = false;
        wake_.notify_all();
    }
    if (IsWorkerThread()) {
        // Destroyed from its own event: nothing can wait for itself.
        thread_.detach();
        return;
    }
    thread_.join();
}

void TACSThread::Execute() {
    workerId_ = std::this_thread::get_id();
    while (!terminating_) {
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(stateMutex_);
            wake_.wait(lock, [this] { return !suspended_ || terminating_.load(); });
            generation = generation_;
        }
        if (terminating_) {
            break;
        }
        std::lock_guard step(Lock);
        const std::int32_t delay = Delay.load();
        if (delay > 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        try {
            if (!StepHandler(StopRequested.load())) {
                StopRequested = false;
                DoneHandler();
                if (SuspendWhenIdle) {
                    SuspendAfterRun(generation);
                }
            }
        } catch (const std::exception& e) {
            StopRequested = false;
            ExceptionHandler(e);
            if (SuspendWhenIdle) {
                SuspendAfterRun(generation);
            }
        } catch (...) {
            // Anything else would end the whole program from a worker thread.
            StopRequested = false;
            ExceptionHandler(EACSException("Unknown failure in the worker thread"));
            if (SuspendWhenIdle) {
                SuspendAfterRun(generation);
            }
        }
    }
    {
        std::lock_guard step(Lock);
        try {
            StepHandler(true); // final abort step
        } catch (...) {
            // the worker is ending; nobody is left to tell but the log
            platform::LogSwallowedException("the final abort step");
        }
    }
    terminating_ = false;
}

// ---- TACSOutput -----------------------------------------------------------------------------

TACSOutput::TACSOutput() : FThread(std::make_unique<TACSThread>()) {
    FThread->StepHandler = [this](bool abort) { return OutputStep(abort); };
    FThread->DoneHandler = [this] { ThreadFinished(); };
    FThread->ExceptionHandler = [this](const std::exception& e) { HandleWorkerException(e); };
}

TACSOutput::~TACSOutput() {
    if (!shutDown_) {
        // The concrete sink is already gone: its virtual steps must not run any more.
        {
            std::lock_guard step(FThread->Lock);
            FThread->StepHandler = [](bool) { return true; };
            FThread->DoneHandler = [] {};
            FThread->ExceptionHandler = [](const std::exception&) {};
        }
        shutDown_ = true;
        FThread->TerminateAndWait();
    }
    ExchangeInput(nullptr);
}

void TACSOutput::ShutdownWorker() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    FThread->TerminateAndWait();
    if (FBusy) {
        // Destroyed in the middle of a run: close the destination and release the input so
        // neither stays half-open; no event fires during destruction.
        FOutputEnabled = false;
        try {
            Finish();
        } catch (...) {
            platform::LogSwallowedException("finishing an output being destroyed");
        }
        FBusy = false;
    }
}

void TACSOutput::Run() {
    if (FBusy) {
        throw EACSException("Component is buisy");
    }
    if (FInput.load() == nullptr) {
        throw EACSException("Input is not assigned");
    }
    FInputLock.Release();
    try {
        Prepare();
        FBusy = true;
        FThread->StopRequested = false;
        FOutputEnabled = true;
        FThread->BeginRun();
    } catch (const std::exception& e) {
        HandleWorkerException(e);
    }
}

void TACSOutput::Stop() {
    FThread->StopRequested = true;
}

void TACSOutput::Pause() {
    if (!FThread->Suspended()) {
        FThread->Suspend();
    }
}

void TACSOutput::Resume() {
    // An idle worker stays parked: waking it would only spin idle steps until the next Run.
    if (FBusy && FThread->Suspended()) {
        FThread->Resume();
    }
}

TACSOutputStatus TACSOutput::Status() const {
    if (!FBusy) {
        return osIdle;
    }
    return FThread->Suspended() ? osPaused : osRunning;
}

std::int32_t TACSOutput::Progress() {
    TSpinFlagGuard guard(FInputLock);
    TACSInput* input = FInput.load();
    if (input == nullptr) {
        return 0;
    }
    const std::int32_t size = input->Size();
    if (size < 0) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    const double percent = static_cast<double>(input->Position()) / size * 100.0;
    return static_cast<std::int32_t>(std::nearbyint(percent));
}

void TACSOutput::SetInput(TACSInput* value) {
    if (value == FInput.load()) {
        return;
    }
    ReplaceInput(value, FBusy);
}

void TACSOutput::SetDelay(std::int32_t value) {
    if (value <= 100) {
        FThread->Delay = value;
    }
}

void TACSOutput::ThreadFinished() {
    if (!FBusy) {
        return;
    }
    FOutputEnabled = false;
    Finish();
    FBusy = false;
    if (OnDone) {
        OnDone(this);
    }
}

void TACSOutput::HandleWorkerException(const std::exception& e) {
    FInputLock.Release();
    if (Status() != osIdle) {
        if (auto* converter = dynamic_cast<TACSConverter*>(FInput.load())) {
            try {
                converter->ClearInputLocks();
            } catch (...) {
                platform::LogSwallowedException("releasing the input locks");
            }
        }
        try {
            Finish();
        } catch (...) {
            // the first error is the one reported
            platform::LogSwallowedException("finishing an output after an error");
        }
    }
    FOutputEnabled = false;
    FBusy = false;
    if (OnThreadException) {
        OnThreadException(this, e);
    }
}

void TACSOutput::CheckProgress() {
    const std::int32_t progress = Progress();
    if (progress != FLastProgress) {
        FLastProgress = progress;
        if (OnProgress) {
            OnProgress(this);
        }
    }
}

// ---- TACSStreamedOutput / TACSFileOut -------------------------------------------------------

TACSStreamedOutput::TACSStreamedOutput() = default;
TACSStreamedOutput::~TACSStreamedOutput() = default;

TACSFileOut::TACSFileOut() = default;
TACSFileOut::~TACSFileOut() = default;

void TACSFileOut::SetFileName(const std::string& value) {
    if (!FBusy) {
        FFileName = value;
    }
}

void TACSFileOut::SetFileMode(TFileOutputMode /*value*/) {
    FFileMode = foRewrite;
}

} // namespace audio
