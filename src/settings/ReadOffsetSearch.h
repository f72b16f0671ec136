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
#include "cd/ReadOffsetFinder.h"

class QLabel;
class QPushButton;

namespace settings {

// The search itself; the program installs cd::FindReadOffset (the settings library sits
// below the rip code, so it cannot call it directly).
using ReadOffsetFinder =
    std::function<cd::ReadOffsetResult(cd::HCDROM, const std::string& server, int maxOffset,
                                       const cd::LookupOptions&, const std::atomic<bool>* cancel)>;

class TReadOffsetSearch : public QDialog {
    Q_OBJECT
public:
    TReadOffsetSearch(QWidget* owner, ReadOffsetFinder finder, std::string server,
                      cd::LookupOptions lookup, int maxOffset);
    ~TReadOffsetSearch() override;

    // The outcome; valid after the box ended with Accepted.
    const cd::ReadOffsetResult& Result() const { return result_; }

public slots:
    void reject() override; // Escape and closing the window behave as Cancel

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Start();
    void Finished(const cd::ReadOffsetResult& result);

    QLabel* lStatus = nullptr;
    QPushButton* bCancel = nullptr;

    ReadOffsetFinder finder_;
    std::string server_;
    cd::LookupOptions lookup_;
    int maxOffset_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    cd::ReadOffsetResult result_;
};

// Runs the search on the first drive: opens it, calls `finder`, closes it.
cd::ReadOffsetResult SearchFirstDrive(const ReadOffsetFinder& finder, const std::string& server,
                                      int maxOffset, const cd::LookupOptions& lookup,
                                      const std::atomic<bool>* cancel);

} // namespace settings
