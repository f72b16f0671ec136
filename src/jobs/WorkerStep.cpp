#include "jobs/WorkerStep.h"

#include <QApplication>

#include <filesystem>
#include <stdexcept>

#include "jobs/OutputLines.h"
#include "platform/Dialogs.h"

namespace jobs {

TWorkerStep::TWorkerStep(TEncodeRequest request, platform::HWND window, std::int32_t endCode)
    : TEncodeStep(std::move(request), window), endCode_(endCode) {}

TWorkerStep::~TWorkerStep() {
    StopWorker();
}

void TWorkerStep::Start() {
    std::error_code ec;
    if (request_.AsksToOverwrite && std::filesystem::exists(request_.Output, ec)) {
        if (!AnswersOverwrite()) {
            Post(endCode_, WorkerStatusDeclined);
            return;
        }
        if (settings::IsFileInUse(request_.Output)) {
            Post(endCode_, JobStatusWriterFailed, "the file is in use by another program");
            return;
        }
    }
    start_ = std::chrono::steady_clock::now();
    launched_ = true;
    running_ = true;
    worker_ = std::thread([this] { Work(); });
}

bool TWorkerStep::AnswersOverwrite() const {
    const QString text = QString::fromStdString(request_.Output + " has existed,overite it?");
    return platform::TheDialogs().MessageBox(
               QApplication::activeWindow(), text, QStringLiteral("Vellorine"),
               platform::MbIcon::Information, platform::MbButtons::YesNo,
               platform::MbResult::Yes) == platform::MbResult::Yes;
}

void TWorkerStep::Work() {
    std::int32_t status = 0;
    std::string reason;
    try {
        Encode();
    } catch (const std::exception& e) {
        status = JobStatusWriterFailed;
        reason = e.what();
    }
    if (!stop_) {
        Post(endCode_, status, reason);
    }
    running_ = false;
}

bool TWorkerStep::Succeeded(const settings::TProcessInfo& end, bool /*progressSeen*/) const {
    return end.Status == 0;
}

void TWorkerStep::Progress(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || stop_) {
        return;
    }
    const int percent = static_cast<int>(std::min<std::uint64_t>(done * 100 / total, 100));
    if (percent <= lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    TimeTexts times = ProgressTimeTexts(SecondsSince(start_), percent);
    Post(percent, 0, std::move(times.Elapsed), std::move(times.Estimated));
}

void TWorkerStep::StopWorker() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
}

} // namespace jobs
