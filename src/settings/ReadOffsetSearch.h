#pragma once
// The small modal box shown while the drive's read offset is looked for: a line of text and
// Cancel. When shown it starts a worker thread that opens the first drive of the list (image
// drives count), runs the search on it and closes it again; the outcome comes back to the
// GUI thread as a posted call, which ends the box with Accepted and keeps the outcome
// (Result()).
//
// Cancel (or Escape) sets the search's cancel flag and ends the box with Rejected at once;
// the search notices the flag within a few milliseconds and the destructor waits for the
// worker, so nothing it finds afterwards reaches anybody. GUI thread only, apart from the
// finder, which runs on the worker.
#include <QDialog>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "cd/DatabaseLookup.h"
#include "cd/akrip32.h"

class QLabel;
class QPushButton;

namespace settings {

// What a search found, as the page shows it.
struct DetectedOffset {
    enum class Kind { Found, NoMatch, NotInDatabase, Failed };
    Kind kind = Kind::Failed;
    int offset = 0;
    int confidence = 0;
    int track = 0;
    std::string error;
};

// The search itself. The settings library sits below the rip code, which holds the real
// search, so the program installs it: AdaptFinder(&cd::FindReadOffset).
using ReadOffsetFinder =
    std::function<DetectedOffset(cd::HCDROM, const std::string& server, int maxOffset,
                                 const cd::LookupOptions&, const std::atomic<bool>* cancel)>;

// Wraps a search whose result has the fields of DetectedOffset and a kind with the same
// names.
template <typename Find> ReadOffsetFinder AdaptFinder(Find find) {
    return [find](cd::HCDROM handle, const std::string& server, int maxOffset,
                  const cd::LookupOptions& lookup, const std::atomic<bool>* cancel) {
        const auto found = find(handle, server, maxOffset, lookup, cancel);
        using Kind = decltype(found.kind);
        DetectedOffset result;
        result.kind = found.kind == Kind::Found           ? DetectedOffset::Kind::Found
                      : found.kind == Kind::NoMatch       ? DetectedOffset::Kind::NoMatch
                      : found.kind == Kind::NotInDatabase ? DetectedOffset::Kind::NotInDatabase
                                                          : DetectedOffset::Kind::Failed;
        result.offset = found.offset;
        result.confidence = found.confidence;
        result.track = found.track;
        result.error = found.error;
        return result;
    };
}

class TReadOffsetSearch : public QDialog {
    Q_OBJECT
public:
    TReadOffsetSearch(QWidget* owner, ReadOffsetFinder finder, std::string server,
                      cd::LookupOptions lookup, int maxOffset);
    ~TReadOffsetSearch() override;

    // The outcome; valid after the box ended with Accepted.
    const DetectedOffset& Result() const { return result_; }

public slots:
    void reject() override; // Escape and closing the window behave as Cancel

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Start();
    void Finished(const DetectedOffset& result);

    QLabel* lStatus = nullptr;
    QPushButton* bCancel = nullptr;

    ReadOffsetFinder finder_;
    std::string server_;
    cd::LookupOptions lookup_;
    int maxOffset_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    DetectedOffset result_;
};

// Runs the search on the first drive: opens it, calls `finder`, closes it.
DetectedOffset SearchFirstDrive(const ReadOffsetFinder& finder, const std::string& server,
                                int maxOffset, const cd::LookupOptions& lookup,
                                const std::atomic<bool>* cancel);

} // namespace settings
