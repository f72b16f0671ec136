#pragma once
// The small modal window shown while a CDDB lookup runs: "Query CDDB..." and a Stop
// button. When shown it starts a TQueryCDDBThread and waits for its WM_CDDB message:
// "finished" ends the dialog with ModalYes and keeps the result (Result()); "no match"
// shows the no-match hint and turns Stop into Close.
//
// Stop (or Escape, or destroying the window) abandons the lookup: the thread's transfer
// is cancelled, it ends by itself, and nothing it finds afterwards reaches anybody.
// GUI thread only.
#include <QDialog>
#include <cstdint>
#include <memory>

#include "platform/Messages.h"
#include "tags/CddbRecord.h"

class QLabel;
class QPushButton;

namespace tags {

struct TCddbLookupState;

// Modal results, numbered as the classic dialog results.
constexpr int ModalCancel = 2;
constexpr int ModalYes = 6;

class TfrmStopQuery : public QDialog, public platform::MessageReceiver {
    Q_OBJECT
public:
    TfrmStopQuery(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle);
    ~TfrmStopQuery() override;

    // What the lookup found; valid after the dialog ended with ModalYes.
    const TCddbRecord& Result() const { return result_; }
    bool NoMatchShown() const;

    std::intptr_t HandleMessage(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) override;

public slots:
    void reject() override; // Escape behaves as Stop

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void FormShow();
    void bStopClick();

    QLabel* lHint = nullptr;
    QPushButton* bStop = nullptr;
    QLabel* Panel1 = nullptr;

    std::uint8_t FirstTrack;
    std::uint8_t LastTrack;
    int CDHandle;
    std::shared_ptr<TCddbLookupState> lookup_;
    TCddbRecord result_;
};

} // namespace tags
