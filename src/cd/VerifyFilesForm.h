#pragma once
// The Verify Files window: the user names a folder of ripped WAV files and where the
// disc's layout comes from (the disc in the drive, a cue sheet or a rip log); Verify runs
// the check (DiscVerifier) on a worker thread and the table shows each track's result.
//
// Threads: the window lives on the GUI thread. The worker posts its progress and its end
// as window messages; its report waits in a member (under a lock) until the end message
// is handled. Stop asks the worker to end; closing the window stops and joins it.
#include "cd/DiscVerifier.h"
#include "platform/Messages.h"

#include <QDialog>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace cd {

class VerifyFilesForm : public QDialog, public platform::MessageReceiver {
    Q_OBJECT
public:
    // The sources of the disc's layout, in the order of the list.
    enum Source { FromDrive = 0, FromFile = 1 };
    static constexpr unsigned WM_VERIFY_PROGRESS = platform::WM_USER + 0x70;
    static constexpr unsigned WM_VERIFY_DONE = platform::WM_USER + 0x71;

    // cdHandle: the main window's open drive (0 when none); folder: where to look first.
    VerifyFilesForm(QWidget* parent, int cdHandle, const QString& folder);
    ~VerifyFilesForm() override;

    std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) override;
    bool Running() const { return worker_.joinable(); }
    // The last check's report, once it ended.
    const std::optional<VerifyReport>& Report() const { return shown_; }

protected:
    bool event(QEvent* e) override;
    void reject() override;

private:
    void BrowseFolderClick();
    void BrowseTocClick();
    void VerifyClick();
    void StopClick();
    void SourceChanged();
    // The layout from the chosen source; nothing (and the reason shown) when it fails.
    std::optional<RipDisc> ChosenDisc();
    void ShowReport(const VerifyReport& report);
    void EndWorker();
    void UpdateButtons();

    int cdHandle_;
    QLineEdit* folderEdit_ = nullptr;
    QComboBox* sourceBox_ = nullptr;
    QLineEdit* tocEdit_ = nullptr;
    QPushButton* tocBrowse_ = nullptr;
    QPushButton* verifyButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* ctdbLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::optional<VerifyReport> finished_; // the worker's report, under mutex_
    std::optional<VerifyReport> shown_;
    std::thread worker_;
};

} // namespace cd
