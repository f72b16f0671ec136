#pragma once
// The main window: the disc's track list, the status panel, the menus, tool bar and
// pop-up menu with their actions. It loads the settings when created, opens the first CD
// device when first shown, follows media changes, and stores the titles and settings when
// it closes. GUI thread only.
// Actions: UpdateActions enables each by its rule whenever rows, check boxes, selection or
// playback change; Action(name) finds an action or menu entry by its designed name.
// CD playback: MediaPlayer1 plays on its own thread; its end-of-play notification is
// handed to the GUI thread as a queued call, tagged with the play it belongs to so that a
// late one from an earlier play is ignored.
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/Dialogs.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform {
class DeviceMonitor;
class MciCdAudio;
} // namespace platform

namespace app {

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    int OpenDevice(int index);
    bool IsAudioCDPresent() const;
    void FillTrackList();
    void bRefreshClick();
    void DeviceChange(unsigned event, unsigned deviceType);
    void FormActivate();
    // Closes the window for a termination signal: the close sequence runs as always, but
    // what fails in it goes to stderr instead of a box nobody may be there to answer.
    void CloseUnattended();

    int CDHandle() const { return CDHandle_; }
    void SetCDHandle(int handle) { CDHandle_ = handle; }
    QString StatusText() const;
    void SetStatusText(const QString& text);
    const QString& IdleStatusText() const { return IdleStatusText_; }
    const QString& DeviceName() const { return DeviceName_; }
    bool NoAudioCD() const { return NoAudioCD_; }
    QTreeWidget* ListView() const { return ListView1; }
    QAction* Action(const QString& name) const;
    // True once the no-device hint has been shown (for the tests of its rule).
    int NoDeviceHintCount() const { return noDeviceHintCount_; }
    bool Playing() const { return Playing_; }
    bool Paused() const { return Paused_; }
    // The CD playback device (for the tests of its states).
    platform::MciCdAudio& MediaPlayer() const { return *MediaPlayer1; }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void FormCreate();
    void FormShow();
    void FormCloseQuery();
    void FormClose();
    void FormPaint();
    void ApplyColours();
    void FormDestroy();
    void ReportCloseFailure(const QString& text);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateTrackList();
    void ClearRows();
    // Enables every action of the window by its rule; runs whenever the rows, their
    // check boxes, the selection or the playback state change.
    void UpdateActions();
    QTreeWidgetItem* SelectedRow() const;
    void ActionOptionSetExecute();
    void aEditTrackNameExecute();
    void aID3EditExecute();
    void mnuAboutClick();
    void mnuHelpClick();
    void ActionSelectAllExecute();
    void aQueryCDDBExecute();
    void aQueryMusicBrainzExecute();
    void ActionNoSelectExecute();
    void ActionRecordExecute();
    void ActionExitExecute();
    void ListView1Click(QTreeWidgetItem* item);
    // Extraction and the file conversions: each opens the job window.
    void ActionExtractExecute();
    void ActionWavToMp3Execute();
    void mnuMp3ToWavClick();
    void miWAVtoOGGClick();
    void miWAVtoWMAClick();
    void miWAVtoFLACClick();
    void miWAVtoOpusClick();
    void miFLACtoWAVClick();
    bool CheckOutputFolder();
    // False (after telling the user) when a checked row's title cannot name its file.
    bool CheckTitlesNameFiles();
    void ConvertChosenFiles(const QString& filter, int jobKind);
    void RunJob(int jobKind, int cdHandle, const QStringList& items);
    void ListView1DblClick();
    void Openoutputdirectory1Click();
    void EjectMenuClick();
    void CloseCdRomMenuClick();
    void VolumeControlMenuClick();
    // Opens the window that checks ripped files against the checksum databases.
    void miVerifyFilesClick();
    void miRealOnePlayerClick();
    void miWindowsMediaPlayerClick();
    void ClearPlayerHistory(const std::string& program, const QString& question,
                            int (*clear)(const std::string& hivePath));
    void aPlayExecute();
    void aPauseExecute();
    void aStopExecute();
    void MediaPlayer1Notify(unsigned generation, std::uint32_t result);
    void ShowDiscNotice();
    void StartAutomaticLookup();
    void miWAVtoWAVClick();
    void miOGGPlayerClick();
    QAction* AddAction(const QString& name, const QString& caption, const QString& hint,
                       const QKeySequence& shortcut);
    // A menu entry that is not one of the shared actions, found by Action(name) too.
    QAction* MenuItem(const QString& name, const QString& caption,
                      const QKeySequence& shortcut = {});

    // Designed components.
    QToolBar* ToolBar1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QWidget* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    std::map<QString, QAction*> ActionList1;
    platform::FileDialogRequest OpenDialog1;
    platform::DeviceMonitor* DeviceMonitor1 = nullptr;
    std::unique_ptr<platform::MciCdAudio> MediaPlayer1;

    // Private state.
    bool NoAudioCD_ = false;
    bool Playing_ = false;
    bool Paused_ = false;
    QString DeviceName_;
    int CDHandle_ = 0;
    QString IdleStatusText_;

    bool shown_ = false;
    bool closed_ = false;
    bool unattended_ = false;
    // The hint is due on the next activation unless the last deactivation was the
    // hint itself taking the focus.
    bool hintDue_ = true;
    bool showingHint_ = false;
    int noDeviceHintCount_ = 0;
    // Each play gets a number so that a late notification of an earlier one is ignored.
    unsigned playGeneration_ = 0;
    std::uint32_t playEnd_ = 0;
    std::string shownDiscNotice_;
    std::string autoLookupDisc_; // the disc the automatic lookup last ran for
};

} // namespace app
