#pragma once
// The "Options" dialog: six pages of controls bound to the settings record and to the ID3
// fields of DiscInfo.
//
// The controls are filled from the settings when the dialog is created and copied back
// only when OK passes its checks (an existing output folder, a whole-number song length,
// bit-rate texts that start with a number); Cancel changes nothing. Nothing is written
// to disk here: the settings reach options.ini when the program closes.
//
// The "CD-ROM" page lists the drives each time it is shown. When OK finds that another
// device was chosen there, it calls the owner's reopenDevice with the chosen position;
// the owner opens that device and rebuilds its track list before the dialog closes.
// Message boxes and the folder browser go through platform::TheDialogs(). GUI thread
// only; the caller creates, runs modally and frees the dialog.
#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace settings {

class TNamingPage;
class TPerformancePage;
class TFlacPage;
class TOpusPage;
class TSecureRipPage;
class TTagsPanel;

class TOptionSetForm : public QDialog {
    Q_OBJECT
public:
    TOptionSetForm(QWidget* owner, std::function<void(int position)> reopenDevice);

    // Store false: settings into controls; Store true: controls into settings.
    void LoadSaveControls(bool Store);

    void btOkClick();
    void btCancelClick();
    void btBrowserClick();
    void bDefaultClick();
    void bWMADefaultClick();
    void TabSheet3Show();

    int DeviceIndexOnOpen = 0;
    bool CDDbOnOpen = false;

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;          // Output
    QWidget* TabSheet2 = nullptr;          // LAME
    QWidget* TabSheet5 = nullptr;          // OGG
    QWidget* TabSheet6 = nullptr;          // WMA
    QWidget* TabSheet4 = nullptr;          // ID3 Tag
    QWidget* TabSheet3 = nullptr;          // CD-ROM
    TSecureRipPage* TabSheet7 = nullptr;   // Secure rip
    TPerformancePage* TabSheet8 = nullptr; // Performance
    TNamingPage* TabSheet9 = nullptr;      // Naming
    TFlacPage* TabSheet10 = nullptr;       // FLAC
    TOpusPage* TabSheet11 = nullptr;       // Opus

    QLineEdit* editOutputDir = nullptr;
    QPushButton* btBrowser = nullptr;
    QCheckBox* ckbKeepWav = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QCheckBox* ckNormalize = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QCheckBox* cbRipTime = nullptr;
    QLineEdit* eRipTime = nullptr;

    QCheckBox* ckbSelectVBR = nullptr;
    QCheckBox* ckbVBRHead = nullptr;
    QComboBox* cbBitRate = nullptr;
    QComboBox* cbMaxBitRate = nullptr;
    QComboBox* cbVBRQuality = nullptr;
    QComboBox* cbMpegQuality = nullptr;
    QComboBox* cbStereoMode = nullptr;
    QPushButton* bDefault = nullptr;

    QCheckBox* cbUseCompress = nullptr;
    QSlider* tbCompression = nullptr;
    QComboBox* cbOggNomBit = nullptr;
    QComboBox* cbOggMaxBit = nullptr;
    QComboBox* cbOggMinBit = nullptr;

    QComboBox* cbWMABitrate = nullptr;
    QPushButton* bWMADefault = nullptr;

    QCheckBox* cbUseID3 = nullptr;
    QLineEdit* ID3artist = nullptr;
    QLineEdit* ID3album = nullptr;
    QLineEdit* ID3year = nullptr;
    QComboBox* ID3genre = nullptr;
    QLineEdit* ID3comment = nullptr;
    TTagsPanel* TagsPanel = nullptr; // full-length tags and the cover, below the fields

    QComboBox* cbCDList = nullptr;
    QCheckBox* ckbCDDb = nullptr;

    QPushButton* btOk = nullptr;
    QPushButton* btCancel = nullptr;

private:
    void FormCreate();
    void CreateOutputPage();
    void CreateLamePage();
    void CreateOggPage();
    void CreateWmaPage();
    void CreateId3Page();
    void CreateCdRomPage();
    void ckNormalizeClick();
    void cbRipTimeClick();
    void ckbSelectVBRClick();
    void ActionOutputFormatUpdate();
    void LoadControls();
    void StoreControls();
    bool CheckOutputFolder();
    bool CheckRipTime();
    bool CheckBitRates();
    void RefuseWith(const QString& text, QWidget* focusOnOutputPage);

    std::function<void(int)> reopenDevice_;
};

// BitRate text of the LAME page's combo boxes ("128 kbit/s"; no leading blank).
QString BitRateText(int kbps);
// The number in the first three characters of a bit-rate text, blanks trimmed; false
// when they do not form a whole number.
bool BitRateFromText(const QString& text, int& kbps);

} // namespace settings
