#include "settings/OptionSet.h"

#include "settings/FlacPage.h"
#include "settings/NamingPage.h"
#include "settings/OpusPage.h"
#include "settings/PerformancePage.h"
#include "settings/SecureRipPage.h"
#include "settings/TagsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

#include "cd/akrip32.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/ProgramFolder.h"
#include "settings/Global.h"
#include "tags/Genres.h"

namespace settings {

namespace {

const QStringList kMp3Rates = {" 32 kbit/s", " 40 kbit/s", " 48 kbit/s", " 56 kbit/s", " 64 kbit/s",
                               " 80 kbit/s", " 96 kbit/s", "112 kbit/s", "128 kbit/s", "160 kbit/s",
                               "192 kbit/s", "224 kbit/s", "256 kbit/s", "320 kbit/s"};

// Positions are the Vorbis writer's bit-rate choices (0 = automatic).
const QStringList kOggRates = {" Default",   " 45 kbit/s", " 48 kbit/s", " 56 kbit/s",
                               " 64 kbit/s", " 80 kbit/s", " 96 kbit/s", "112 kbit/s",
                               "128 kbit/s", "144 kbit/s", "160 kbit/s", "192 kbit/s",
                               "224 kbit/s", "256 kbit/s", "320 kbit/s"};

// Positions match WmaPresetCodes.
const QStringList kWmaPresets = {"48.000 kHz, 192 kbit/s, Stereo", "48.000 kHz, 160 kbit/s, Stereo",
                                 "48.000 kHz, 128 kbit/s, Stereo", "44.100 kHz, 192 kbit/s, Stereo",
                                 "44.100 kHz, 160 kbit/s, Stereo", "44.100 kHz, 128 kbit/s, Stereo",
                                 "44.100 kHz,  96 kbit/s, Stereo", "44.100 kHz,  80 kbit/s, Stereo",
                                 "44.100 kHz,  64 kbit/s, Stereo", "44.100 kHz,  48 kbit/s, Stereo",
                                 "44.100 kHz,  32 kbit/s, Stereo", "44.100 kHz,  48 kbit/s, Mono",
                                 "44.100 kHz,  32 kbit/s, Mono",   "32.000 kHz,  48 kbit/s, Stereo",
                                 "32.000 kHz,  40 kbit/s, Stereo", "32.000 kHz,  32 kbit/s, Stereo",
                                 "32.000 kHz,  20 kbit/s, Mono",   "22.050 kHz,  32 kbit/s, Stereo",
                                 "22.050 kHz,  22 kbit/s, Stereo", "22.050 kHz,  20 kbit/s, Stereo",
                                 "22.050 kHz,  20 kbit/s, Mono",   "22.050 kHz,  16 kbit/s, Mono",
                                 "16.000 kHz,  20 kbit/s, Stereo", "16.000 kHz,  16 kbit/s, Stereo",
                                 "16.000 kHz,  16 kbit/s, Mono",   "16.000 kHz,  12 kbit/s, Mono",
                                 "16.000 kHz,  10 kbit/s, Mono",   "11.025 kHz,  10 kbit/s, Mono",
                                 "11.025 kHz,   8 kbit/s, Mono",   " 8.000 kHz,  12 kbit/s, Stereo",
                                 " 8.000 kHz,   8 kbit/s, Mono",   " 8.000 kHz,   6 kbit/s, Mono",
                                 " 8.000 kHz,   5 kbit/s, Mono"};

constexpr int kDefaultBitRateItem = 8;     // "128 kbit/s"
constexpr int kDefaultMaxBitRateItem = 13; // "320 kbit/s"
constexpr int kDefaultWmaPreset = 8;       // "44.100 kHz,  64 kbit/s, Stereo"

const QString kBrowseTitle = QStringLiteral("Please select the directory to save mp3 and wav file");

bool ToInteger(const QString& text, int& value) {
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok;
}

QString FixedText(const char* bytes, std::size_t max) {
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, max)));
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    return box;
}

// The title of a format's own options page.
QString PageTitle(TOutputFormat format) {
    return QString::fromLatin1(FormatRow(format)->OptionsPage);
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength = 32767) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets) {
        w->setParent(row);
        layout->addWidget(w);
    }
    if (stretch) {
        layout->addStretch();
    }
    return row;
}

} // namespace

QString BitRateText(int kbps) {
    return QString::number(kbps) + QStringLiteral(" kbit/s");
}

bool BitRateFromText(const QString& text, int& kbps) {
    return ToInteger(text.left(3), kbps);
}

TOptionSetForm::TOptionSetForm(QWidget* owner, std::function<void(int)> reopenDevice)
    : QDialog(owner), reopenDevice_(std::move(reopenDevice)) {
    setObjectName(QStringLiteral("OptionSetForm"));
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    layout->addWidget(PageControl1);
    CreateOutputPage();
    CreateLamePage();
    CreateOggPage();
    CreateWmaPage();
    CreateId3Page();
    CreateCdRomPage();
    TabSheet7 = new TSecureRipPage;
    PageControl1->addTab(TabSheet7, QStringLiteral("Secure rip"));
    TabSheet8 = new TPerformancePage;
    PageControl1->addTab(TabSheet8, QStringLiteral("Performance"));
    TabSheet9 = new TNamingPage;
    PageControl1->addTab(TabSheet9, QStringLiteral("Naming"));
    TabSheet10 = new TFlacPage;
    PageControl1->addTab(TabSheet10, PageTitle(TOutputFormat::ofFlac));
    TabSheet11 = new TOpusPage;
    PageControl1->addTab(TabSheet11, PageTitle(TOutputFormat::ofOpus));

    btOk = Button(this, "btOk", QStringLiteral("OK"));
    btOk->setDefault(true); // Enter confirms, as in any dialog
    btCancel = Button(this, "btCancel", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);

    setMinimumWidth(520);
    connect(btOk, &QPushButton::clicked, this, &TOptionSetForm::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TOptionSetForm::btCancelClick);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) {
        if (PageControl1->currentWidget() == TabSheet3) {
            TabSheet3Show();
        }
    });
    FormCreate();
}

void TOptionSetForm::CreateOutputPage() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto* page = new QVBoxLayout(TabSheet1);

    auto* dirGroup = new QGroupBox(QStringLiteral("Output directory(WAV/MP3)"), TabSheet1);
    auto* dirLayout = new QVBoxLayout(dirGroup);
    editOutputDir = Edit(dirGroup, "editOutputDir");
    btBrowser = Button(dirGroup, "btBrowser", QStringLiteral("..."));
    btBrowser->setFixedWidth(32);
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(editOutputDir);
    dirRow->addWidget(btBrowser);
    dirLayout->addLayout(dirRow);
    ckbKeepWav = Check(dirGroup, "ckbKeepWav", QStringLiteral("Delete WAV file after processing"));
    dirLayout->addWidget(ckbKeepWav);
    page->addWidget(dirGroup);

    auto* formatGroup = new QGroupBox(QStringLiteral("Output format"), TabSheet1);
    auto* formatLayout = new QVBoxLayout(formatGroup);
    QStringList formats;
    for (const TOutputFormatRow& row : OutputFormats()) {
        formats << QString::fromLatin1(row.Label); // the position is the stored number
    }
    cbOutputFormat = Combo(formatGroup, "cbOutputFormat", formats);
    formatLayout->addWidget(
        Row(formatGroup, {new QLabel(QStringLiteral("Format:")), cbOutputFormat}));
    ckNormalize = Check(formatGroup, "ckNormalize", QStringLiteral("Normalize"));
    SpinEdit1 = new QSpinBox;
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(0, 100);
    // The arrows (and the arrow keys) change the value; the text cannot be typed into.
    if (auto* text = SpinEdit1->findChild<QLineEdit*>()) {
        text->setReadOnly(true);
        text->setMaxLength(3);
    }
    formatLayout->addWidget(
        Row(formatGroup, {ckNormalize, SpinEdit1, new QLabel(QStringLiteral("%"))}));
    cbRipTime =
        Check(formatGroup, "cbRipTime", QStringLiteral("Enable to set the length to extract"));
    formatLayout->addWidget(cbRipTime);
    eRipTime = Edit(formatGroup, "eRipTime");
    eRipTime->setMaximumWidth(80);
    formatLayout->addWidget(Row(formatGroup, {new QLabel(QStringLiteral("The song length:")),
                                              eRipTime, new QLabel(QStringLiteral("Second"))}));
    page->addWidget(formatGroup);
    page->addStretch();

    connect(btBrowser, &QPushButton::clicked, this, &TOptionSetForm::btBrowserClick);
    connect(ckNormalize, &QCheckBox::toggled, this, &TOptionSetForm::ckNormalizeClick);
    connect(cbRipTime, &QCheckBox::toggled, this, &TOptionSetForm::cbRipTimeClick);
    connect(cbOutputFormat, &QComboBox::currentIndexChanged, this,
            &TOptionSetForm::ActionOutputFormatUpdate);
    PageControl1->addTab(TabSheet1, QStringLiteral("Output"));
}

void TOptionSetForm::CreateLamePage() {
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* page = new QVBoxLayout(TabSheet2);
    ckbSelectVBR = Check(TabSheet2, "ckbSelectVBR", QStringLiteral("Enable Variable Bitrate(VBR)"));
    ckbVBRHead = Check(TabSheet2, "ckbVBRHead", QStringLiteral("Disable writing of the VBR Tag"));
    page->addWidget(ckbSelectVBR);
    page->addWidget(ckbVBRHead);
    auto* form = new QFormLayout;
    cbBitRate = Combo(TabSheet2, "cbBitRate", kMp3Rates);
    cbMaxBitRate = Combo(TabSheet2, "cbMaxBitRate", kMp3Rates);
    for (QComboBox* box : {cbBitRate, cbMaxBitRate}) {
        box->setEditable(true); // other rates may be typed; the list itself stays as it is
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    cbVBRQuality =
        Combo(TabSheet2, "cbVBRQuality", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"});
    cbMpegQuality =
        Combo(TabSheet2, "cbMpegQuality",
              {"Default", "Faster encode/Lower quality", "Slower encode/Higher quality"});
    cbStereoMode =
        Combo(TabSheet2, "cbStereoMode",
              {"Stereo", "Joint Stereo", "Forced Joint Stereo", "Dual Channels", "Mono"});
    form->addRow(QStringLiteral("Minimum bitrate:"), cbBitRate);
    form->addRow(QStringLiteral("Maximum bitrate:"), cbMaxBitRate);
    form->addRow(QStringLiteral("VBR Quality:"), cbVBRQuality);
    form->addRow(QStringLiteral("Speed/Quality:"), cbMpegQuality);
    form->addRow(QStringLiteral("Mode:"), cbStereoMode);
    page->addLayout(form);
    bDefault = Button(TabSheet2, "bDefault", QStringLiteral("&Default"));
    page->addWidget(Row(TabSheet2, {bDefault}));
    page->addStretch();

    connect(ckbSelectVBR, &QCheckBox::toggled, this, &TOptionSetForm::ckbSelectVBRClick);
    connect(bDefault, &QPushButton::clicked, this, &TOptionSetForm::bDefaultClick);
    PageControl1->addTab(TabSheet2, PageTitle(TOutputFormat::ofMp3));
}

void TOptionSetForm::CreateOggPage() {
    TabSheet5 = new QWidget;
    TabSheet5->setObjectName(QStringLiteral("TabSheet5"));
    auto* page = new QVBoxLayout(TabSheet5);
    cbUseCompress = Check(TabSheet5, "cbUseCompress", QStringLiteral("Use Quality setting"));
    page->addWidget(cbUseCompress);
    tbCompression = new QSlider(Qt::Horizontal);
    tbCompression->setObjectName(QStringLiteral("tbCompression"));
    tbCompression->setRange(30, 100);
    tbCompression->setTickPosition(QSlider::NoTicks);
    tbCompression->setMinimumWidth(220);
    page->addWidget(
        Row(TabSheet5, {tbCompression, new QLabel(QStringLiteral("-> Highest quality"))}));
    auto* group = new QGroupBox(QStringLiteral("Use Bitrate manager"), TabSheet5);
    auto* form = new QFormLayout(group);
    cbOggNomBit = Combo(group, "cbOggNomBit", kOggRates);
    cbOggMaxBit = Combo(group, "cbOggMaxBit", kOggRates);
    cbOggMinBit = Combo(group, "cbOggMinBit", kOggRates);
    form->addRow(QStringLiteral("Nominal bitrate:"), cbOggNomBit);
    form->addRow(QStringLiteral("Maximum bitrate:"), cbOggMaxBit);
    form->addRow(QStringLiteral("Minimum bitrate:"), cbOggMinBit);
    page->addWidget(group);
    page->addStretch();
    PageControl1->addTab(TabSheet5, PageTitle(TOutputFormat::ofOgg));
}

void TOptionSetForm::CreateWmaPage() {
    TabSheet6 = new QWidget;
    TabSheet6->setObjectName(QStringLiteral("TabSheet6"));
    auto* page = new QVBoxLayout(TabSheet6);
    page->addWidget(new QLabel(QStringLiteral("Audio Bitrate:"), TabSheet6));
    cbWMABitrate = Combo(TabSheet6, "cbWMABitrate", kWmaPresets);
    cbWMABitrate->setMaxVisibleItems(16);
    page->addWidget(cbWMABitrate);
    bWMADefault = Button(TabSheet6, "bWMADefault", QStringLiteral("&Default"));
    page->addWidget(Row(TabSheet6, {bWMADefault}));
    page->addStretch();
    connect(bWMADefault, &QPushButton::clicked, this, &TOptionSetForm::bWMADefaultClick);
    PageControl1->addTab(TabSheet6, PageTitle(TOutputFormat::ofWma));
}

void TOptionSetForm::CreateId3Page() {
    TabSheet4 = new QWidget;
    TabSheet4->setObjectName(QStringLiteral("TabSheet4"));
    auto* page = new QVBoxLayout(TabSheet4);
    cbUseID3 = Check(TabSheet4, "cbUseID3", QStringLiteral("Use ID3 tag"));
    page->addWidget(cbUseID3);
    auto* form = new QFormLayout;
    ID3artist = Edit(TabSheet4, "ID3artist", 30);
    ID3album = Edit(TabSheet4, "ID3album", 30);
    ID3year = Edit(TabSheet4, "ID3year", 4);
    ID3genre = new QComboBox(TabSheet4);
    ID3genre->setObjectName(QStringLiteral("ID3genre"));
    for (const char* name : tags::GenreList) {
        ID3genre->addItem(QString::fromLatin1(name));
    }
    ID3genre->setMaxVisibleItems(20);
    ID3comment = Edit(TabSheet4, "ID3comment", 30);
    form->addRow(QStringLiteral("Artist:"), ID3artist);
    form->addRow(QStringLiteral("Album:"), ID3album);
    form->addRow(QStringLiteral("Year:"), ID3year);
    form->addRow(QStringLiteral("Genre:"), ID3genre);
    form->addRow(QStringLiteral("Comment:"), ID3comment);
    page->addLayout(form);
    TagsPanel = new TTagsPanel(TabSheet4);
    page->addWidget(TagsPanel);
    page->addStretch();
    PageControl1->addTab(TabSheet4, QStringLiteral("ID3 Tag"));
}

void TOptionSetForm::CreateCdRomPage() {
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    auto* page = new QVBoxLayout(TabSheet3);
    page->addWidget(new QLabel(QStringLiteral("Device:"), TabSheet3));
    cbCDList = new QComboBox(TabSheet3);
    cbCDList->setObjectName(QStringLiteral("cbCDList"));
    page->addWidget(cbCDList);
    ckbCDDb = Check(TabSheet3, "ckbCDDb", QStringLiteral("Get CD information from CD DB"));
    ckbCDDb->setVisible(false);
    page->addWidget(ckbCDDb);
    page->addStretch();
    PageControl1->addTab(TabSheet3, QStringLiteral("CD-ROM"));
}

void TOptionSetForm::FormCreate() {
    LoadSaveControls(false);
    PageControl1->setCurrentWidget(TabSheet1);
}

void TOptionSetForm::LoadSaveControls(bool Store) {
    if (Store) {
        StoreControls();
    } else {
        LoadControls();
    }
}

void TOptionSetForm::LoadControls() {
    const TCommonOptions& common = Settings.CommonOptions;
    editOutputDir->setText(Text(common.OutputFolder));
    cbOutputFormat->setCurrentIndex(StoredFormat(common.OutputFormat));
    ckbKeepWav->setChecked(!common.IsKeepWav);
    ckNormalize->setChecked(common.IsNormalize);
    SpinEdit1->setValue(common.NormalizePercent);
    cbRipTime->setChecked(common.EnableRipTime);
    eRipTime->setText(QString::number(common.RipTime));
    const TMp3Options& mp3 = Settings.Mp3Options;
    ckbSelectVBR->setChecked(mp3.IsSelectVBR);
    ckbVBRHead->setChecked(mp3.IsVBRHead);
    cbBitRate->setEditText(BitRateText(mp3.BitRate));
    cbMaxBitRate->setEditText(BitRateText(mp3.MaxBitRate));
    cbMpegQuality->setCurrentIndex(mp3.MpegQuality);
    cbVBRQuality->setCurrentIndex(mp3.VBRQuality);
    cbStereoMode->setCurrentIndex(mp3.StereoMode);
    const TOggOptions& ogg = Settings.OggOptions;
    cbUseCompress->setChecked(ogg.IsUseCompress);
    tbCompression->setValue(ogg.CompressPosition);
    cbOggMaxBit->setCurrentIndex(ogg.MaxBitRate);
    cbOggNomBit->setCurrentIndex(ogg.NomalBitRate);
    cbOggMinBit->setCurrentIndex(ogg.MinBitRate);
    cbWMABitrate->setCurrentIndex(Settings.WMAOptions.BitRate);
    DeviceIndexOnOpen = Settings.CDOptions.Index == -1 ? 0 : Settings.CDOptions.Index;
    CDDbOnOpen = Settings.CDOptions.CDDb;
    ckbCDDb->setChecked(Settings.CDOptions.CDDb);
    cbUseID3->setChecked(Settings.ID3.Use);
    ID3artist->setText(Text(DiscInfo.Artist));
    ID3album->setText(Text(DiscInfo.Album));
    ID3year->setText(Text(DiscInfo.Year));
    ID3comment->setText(Text(DiscInfo.Comment));
    ID3genre->setCurrentIndex(DiscInfo.Genre);
    TagsPanel->Load(Settings.Tags, DiscInfo);
    TagsPanel->cbReplayGain->setChecked(Settings.ReplayGain.Enabled);
    TabSheet7->Load(Settings.SecureRip);
    TabSheet8->Load(Settings.Performance);
    TabSheet9->Load(Settings.Naming, DiscInfo,
                    FormatRow(Settings.CommonOptions.OutputFormat) != nullptr
                        ? FormatRow(Settings.CommonOptions.OutputFormat)->Extension
                        : ".wav");
    TabSheet10->Load(Settings.FLACOptions);
    TabSheet11->Load(Settings.OpusOptions);
    // Every dependent control follows its box, whether or not the box changed state.
    ckNormalizeClick();
    cbRipTimeClick();
    ckbSelectVBRClick();
    ActionOutputFormatUpdate();
}

void TOptionSetForm::StoreControls() {
    TCommonOptions& common = Settings.CommonOptions;
    common.IsKeepWav = !ckbKeepWav->isChecked();
    common.OutputFormat = FormatFromStored(cbOutputFormat->currentIndex());
    common.OutputFolder = editOutputDir->text().toStdString();
    common.IsNormalize = ckNormalize->isChecked();
    common.NormalizePercent = SpinEdit1->value();
    common.EnableRipTime = cbRipTime->isChecked();
    if (!ToInteger(eRipTime->text(), common.RipTime)) {
        common.RipTime = 0;
    }
    TMp3Options& mp3 = Settings.Mp3Options;
    mp3.IsSelectVBR = ckbSelectVBR->isChecked();
    mp3.IsVBRHead = ckbVBRHead->isChecked();
    BitRateFromText(cbBitRate->currentText(), mp3.BitRate);
    BitRateFromText(cbMaxBitRate->currentText(), mp3.MaxBitRate);
    mp3.MpegQuality = cbMpegQuality->currentIndex();
    mp3.VBRQuality = cbVBRQuality->currentIndex();
    mp3.StereoMode = cbStereoMode->currentIndex();
    TOggOptions& ogg = Settings.OggOptions;
    ogg.IsUseCompress = cbUseCompress->isChecked();
    ogg.CompressPosition = tbCompression->value();
    ogg.MaxBitRate = cbOggMaxBit->currentIndex();
    ogg.NomalBitRate = cbOggNomBit->currentIndex();
    ogg.MinBitRate = cbOggMinBit->currentIndex();
    Settings.WMAOptions.BitRate = cbWMABitrate->currentIndex();
    Settings.CDOptions.Index = cbCDList->currentIndex();
    TabSheet7->Store(Settings.SecureRip);
    TabSheet8->Store(Settings.Performance);
    TabSheet9->Store(Settings.Naming);
    TabSheet10->Store(Settings.FLACOptions);
    TabSheet11->Store(Settings.OpusOptions);
    Settings.CDOptions.CDDb = ckbCDDb->isChecked();
    Settings.ID3.Use = cbUseID3->isChecked();
    // The edits hold what a version 1 tag can; a longer value (from CDDB) that the user did
    // not edit stays whole for the full-length tags.
    auto keep = [](const QLineEdit* edit, std::string& value) {
        const bool cutOnly =
            !edit->isModified() && Text(value).left(edit->maxLength()) == edit->text();
        if (!cutOnly) {
            value = edit->text().toStdString();
        }
    };
    keep(ID3artist, DiscInfo.Artist);
    keep(ID3album, DiscInfo.Album);
    keep(ID3year, DiscInfo.Year);
    DiscInfo.Genre = ID3genre->currentIndex();
    keep(ID3comment, DiscInfo.Comment);
    TagsPanel->Store(Settings.Tags, DiscInfo);
    Settings.ReplayGain.Enabled = TagsPanel->cbReplayGain->isChecked();
}

void TOptionSetForm::ckNormalizeClick() {
    SpinEdit1->setEnabled(ckNormalize->isChecked());
}

void TOptionSetForm::cbRipTimeClick() {
    eRipTime->setEnabled(cbRipTime->isChecked());
}

void TOptionSetForm::ckbSelectVBRClick() {
    const bool vbr = ckbSelectVBR->isChecked();
    ckbVBRHead->setEnabled(vbr);
    cbMaxBitRate->setEnabled(vbr);
    cbVBRQuality->setEnabled(vbr);
}

void TOptionSetForm::ActionOutputFormatUpdate() {
    // Only a format with an encode step has a WAV left to delete.
    const TOutputFormatRow* row = FormatRow(FormatFromStored(cbOutputFormat->currentIndex()));
    ckbKeepWav->setEnabled(row == nullptr || row->Step != TStepMaker::smNone);
}

void TOptionSetForm::RefuseWith(const QString& text, QWidget* focusOnOutputPage) {
    platform::ErrorBox(this, text);
    if (focusOnOutputPage != nullptr && PageControl1->currentWidget() == TabSheet1) {
        focusOnOutputPage->setFocus();
    }
}

bool TOptionSetForm::CheckOutputFolder() {
    if (QFileInfo(editOutputDir->text()).isDir()) {
        return true;
    }
    RefuseWith(editOutputDir->text() + QStringLiteral(",The output directory does not exist."),
               editOutputDir);
    return false;
}

bool TOptionSetForm::CheckRipTime() {
    // -100 is refused like text that is no number at all.
    int seconds = 0;
    if (ToInteger(eRipTime->text(), seconds) && seconds != -100) {
        return true;
    }
    RefuseWith(QStringLiteral("Please check the song length to extract."), eRipTime);
    return false;
}

bool TOptionSetForm::CheckBitRates() {
    // Checked before anything is stored, so a refused OK leaves every setting as it was.
    for (QComboBox* box : {cbBitRate, cbMaxBitRate}) {
        int kbps = 0;
        if (!BitRateFromText(box->currentText(), kbps)) {
            RefuseWith(
                platform::ErrorDisplayText(QStringLiteral("'%1' is not a valid integer value")
                                               .arg(box->currentText().left(3).trimmed())),
                nullptr);
            PageControl1->setCurrentWidget(TabSheet2);
            box->setFocus();
            return false;
        }
    }
    return true;
}

void TOptionSetForm::btOkClick() {
    if (!CheckOutputFolder() || !CheckRipTime() || !CheckBitRates()) {
        return;
    }
    LoadSaveControls(true);
    const int chosen = cbCDList->currentIndex();
    // Nothing chosen (the remembered device is gone from the list) keeps the open device.
    if (cbCDList->count() > 0 && chosen >= 0 &&
        (chosen != DeviceIndexOnOpen || ckbCDDb->isChecked() != CDDbOnOpen) && reopenDevice_) {
        reopenDevice_(chosen);
    }
    accept();
}

void TOptionSetForm::btCancelClick() {
    reject();
}

void TOptionSetForm::bDefaultClick() {
    ckbSelectVBR->setChecked(false);
    ckbVBRHead->setChecked(false);
    ckbSelectVBRClick();
    cbBitRate->setCurrentIndex(kDefaultBitRateItem);
    cbBitRate->setEditText(kMp3Rates[kDefaultBitRateItem]);
    cbMaxBitRate->setCurrentIndex(kDefaultMaxBitRateItem);
    cbMaxBitRate->setEditText(kMp3Rates[kDefaultMaxBitRateItem]);
    cbVBRQuality->setCurrentIndex(4);
    cbMpegQuality->setCurrentIndex(0);
    cbStereoMode->setCurrentIndex(1);
}

void TOptionSetForm::bWMADefaultClick() {
    cbWMABitrate->setCurrentIndex(kDefaultWmaPreset);
}

void TOptionSetForm::TabSheet3Show() {
    cd::TCDList list{};
    list.max = 8;
    cd::GetCDList(list);
    cbCDList->clear();
    for (int i = 0; i < list.num && i < 8; ++i) {
        const cd::TCDEntry& entry = list.cd[i];
        cbCDList->addItem((FixedText(entry.vendor, sizeof entry.vendor) +
                           FixedText(entry.productId, sizeof entry.productId))
                              .trimmed());
    }
    cbCDList->setCurrentIndex(DeviceIndexOnOpen < cbCDList->count() ? DeviceIndexOnOpen : -1);
}

void TOptionSetForm::btBrowserClick() {
    // Start where the output goes now; the program's folder when that does not exist.
    QString initial = editOutputDir->text();
    if (!QFileInfo(initial).isDir()) {
        initial = QString::fromStdString(platform::ProgramFolder());
    }
    if (!QFileInfo(initial).isDir()) {
        initial.clear();
    }
    const QString chosen = platform::TheDialogs().BrowseFolder(this, kBrowseTitle, initial);
    if (!chosen.isEmpty()) {
        editOutputDir->setText(QDir::toNativeSeparators(chosen));
    }
}

} // namespace settings
