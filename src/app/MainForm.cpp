#include "app/MainForm.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Version.h"
#include "app/About.h"
#include "app/CdAudioSource.h"
#include "app/ClearHistory.h"
#include "app/DiscLookup.h"
#include "app/HelpFile.h"
#include "app/NoDeviceHint.h"
#include "app/TrackRows.h"
#include "app/WindowPlacement.h"
#include "cd/VerifyFilesForm.h"
#include "cd/akrip32.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/rip.h"
#include "platform/DeviceMonitor.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Log.h"
#include "platform/MciCdAudio.h"
#include "platform/ProgramFolder.h"
#include "platform/Registry.h"
#include "platform/RunningPrograms.h"
#include "platform/Shell.h"
#include "settings/DiscHistory.h"
#include "settings/FileNames.h"
#include "settings/Global.h"
#include "settings/OptionSet.h"
#include "tags/EditTrackName.h"
#include "tags/ID3Edit.h"
#include "tags/QueryCddb.h"
#include "tools/OggPlayer.h"
#include "tools/RecordForm.h"
#include "tools/ResampleWav.h"

namespace app {

namespace {
const QString kNoDevices = QStringLiteral("No CD devices found!");
const QString kBadConfig = QStringLiteral("CD device information error in your configration!");
const QString kNoAudioCD = QStringLiteral("Can not find audio CD in your CD device.");
const QString kNoTOC = QStringLiteral("Not get CD device information!");
const QString kNoOutputFolder = QStringLiteral("The output directory does not exist.");
const QString kListDeleted = QStringLiteral(" list records are deleted!");

// An empty setting (a hand-edited file) names no folder: QDir("") would be the working
// folder, and the files would go to the root.
bool OutputFolderExists(const QString& folder) {
    return !folder.isEmpty() && QDir(folder).exists();
}

enum Column { ColNumber = 0, ColTitle, ColLength, ColSize };
constexpr int kMinTitleWidth = 40;

// Drive texts are UTF-8 (an image's file name may hold any character).
QString FixedText(const char* bytes, std::size_t max) {
    return QString::fromUtf8(bytes, static_cast<qsizetype>(strnlen(bytes, max)));
}

// The icon drawn at exactly `size`: a style icon without a pixmap that large is drawn
// smaller, and a caption under a smaller icon sits higher than its neighbours'.
QIcon ToolBarIcon(const QIcon& icon, const QSize& size) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap canvas(size * ratio);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    const QPixmap drawn = icon.pixmap(size, ratio)
                              .scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&canvas);
    const QSizeF drawnSize = QSizeF(drawn.size()) / ratio;
    painter.drawPixmap(
        QPointF((size.width() - drawnSize.width()) / 2, (size.height() - drawnSize.height()) / 2),
        drawn);
    return QIcon(canvas);
}

QString ColourSheet(const char* widget, int r, int g, int b) {
    return QStringLiteral("%1 { background-color: rgb(%2, %3, %4); }")
        .arg(QLatin1String(widget))
        .arg(r)
        .arg(g)
        .arg(b);
}
} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    // The disc's titles are looked up once the window is built; a long history is listed
    // meanwhile.
    settings::ListDiscHistoryAhead();
    setObjectName(QStringLiteral("MainForm"));
    setCentralWidget(new QWidget(this));
    CreateActions();
    CreateTrackList();
    CreateMenus();
    CreateToolBar(); // its buttons share the menus' actions
    StatusBar1 = new QWidget(centralWidget());
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAutoFillBackground(true);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setContentsMargins(4, 0, 4, 0);
    StatusBar1->setFixedHeight(StatusPanel0->sizeHint().height() + 6);
    MediaPlayer1 = std::make_unique<platform::MciCdAudio>();
    DeviceMonitor1 = new platform::DeviceMonitor(this);
    connect(DeviceMonitor1, &platform::DeviceMonitor::DeviceChange, this,
            platform::Guarded(this, &TMainForm::DeviceChange));
    FormCreate();
    ApplyColours();
    resize(551, 501);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    RestoreWindowPlacement(*this, *ListView1, settings::Settings.MainWindow);
    FormPaint();
    UpdateActions();
}

TMainForm::~TMainForm() {
    // The list may still signal while Qt destroys the children; by then this window's own
    // members are gone, so nothing of ours may run.
    if (ListView1 != nullptr) {
        ListView1->disconnect(this);
        ListView1->model()->disconnect(this);
        ListView1->viewport()->removeEventFilter(this);
    }
    FormDestroy();
}

void TMainForm::FormCreate() {
    settings::LoadSaveOptions(true);
    jobs::Mp3Process = std::make_unique<jobs::TMp3EncodeProcess>();
    jobs::WmaProcess = std::make_unique<jobs::TWMAEncodeProcess>();
    NoAudioCD_ = false;
    Playing_ = false;
    Paused_ = false;
    DeviceName_.clear();
    setWindowTitle(QStringLiteral("Vellorine ") + vellorine::kVersion);
}

void TMainForm::FormDestroy() {
    try {
        jobs::Mp3Process.reset();
        jobs::WmaProcess.reset();
    } catch (...) {
        platform::LogSwallowedException("freeing the encoder wrappers");
    }
}

QAction* TMainForm::AddAction(const QString& name, const QString& caption, const QString& hint,
                              const QKeySequence& shortcut) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
    action->setShortcut(shortcut);
    addAction(action); // its shortcut works even when no menu shows the action itself
    ActionList1[name] = action;
    return action;
}

QAction* TMainForm::Action(const QString& name) const {
    const auto it = ActionList1.find(name);
    return it == ActionList1.end() ? nullptr : it->second;
}

void TMainForm::CreateActions() {
    connect(AddAction("ActionExtract", "E&xtract", "Extract the selected track",
                      QKeySequence("Ctrl+X")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionExtractExecute));
    connect(
        AddAction("ActionSelectAll", "Select &All", "Select all tracks", QKeySequence("Ctrl+A")),
        &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionSelectAllExecute));
    connect(AddAction("ActionNoSelect", "Select &None", "Cancel selected track",
                      QKeySequence("Ctrl+N")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionNoSelectExecute));
    connect(AddAction("ActionOptionSet", "&Options", "Options", QKeySequence("Ctrl+O")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionOptionSetExecute));
    connect(AddAction("ActionExit", "E&xit", "Exit the program", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::ActionExitExecute));
    connect(AddAction("ActionRecord", "&Record", "Record to wav or mp3", QKeySequence("Ctrl+R")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionRecordExecute));
    connect(AddAction("ActionWavToMp3", "&WAV to MP3", "Convert  WAV file to MP3 file",
                      QKeySequence("Ctrl+W")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionWavToMp3Execute));
    connect(AddAction("aPlay", "&Play", "Play the current track", QKeySequence("Ctrl+P")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::aPlayExecute));
    connect(AddAction("aPause", "P&ause", "Pause the current track", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::aPauseExecute));
    connect(AddAction("aStop", "&Stop", "Stop the current track", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::aStopExecute));
    connect(AddAction("aID3Edit", "&ID3 Tag Edit", "MP3 ID3 edit", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::aID3EditExecute));
    connect(AddAction("aEditTrackName", "Rename &Title", "Rename track title", QKeySequence("F2")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::aEditTrackNameExecute));
    connect(AddAction("mnuHelp", "&Help", "", QKeySequence("F1")), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::mnuHelpClick));
    connect(AddAction("mnuAbout", "&About...", "", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::mnuAboutClick));
    connect(AddAction("aQueryCDDB", "&Query Freedb", "", {}), &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::aQueryCDDBExecute));
    connect(AddAction("aQueryMusicBrainz", "Query &MusicBrainz...", "", {}), &QAction::triggered,
            this, platform::Guarded(this, &TMainForm::aQueryMusicBrainzExecute));
}

void TMainForm::ActionRecordExecute() {
    tools::TfrmRecord form(this, CDHandle_);
    platform::TheDialogs().ExecModal(&form);
}

QAction* TMainForm::MenuItem(const QString& name, const QString& caption,
                             const QKeySequence& shortcut) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    ActionList1[name] = action;
    return action;
}

QTreeWidgetItem* TMainForm::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void TMainForm::UpdateActions() {
    bool anyChecked = false;
    for (int i = 0; i < ListView1->topLevelItemCount() && !anyChecked; ++i) {
        anyChecked = ListView1->topLevelItem(i)->checkState(ColNumber) == Qt::Checked;
    }
    const bool rowSelected = SelectedRow() != nullptr;
    // Actions without a rule here are always enabled.
    const std::map<QString, bool> rules = {
        {"ActionExtract", anyChecked},
        {"aPlay", rowSelected},
        {"aEditTrackName", rowSelected},
        {"aPause", Playing_ && !Paused_},
        {"aStop", Playing_},
        {"aQueryCDDB", ListView1->topLevelItemCount() > 0},
        {"aQueryMusicBrainz", ListView1->topLevelItemCount() > 0},
    };
    for (const auto& [name, action] : ActionList1) {
        const auto rule = rules.find(name);
        action->setEnabled(rule == rules.end() || rule->second);
    }
}

void TMainForm::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    QAction* wavToWav = MenuItem("miWAVtoWAV", "WA&V to WAV...");
    connect(wavToWav, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWAVtoWAVClick));
    file->addAction(wavToWav);
    QAction* wavToMp3 = MenuItem("miWavToMp3", "&WAV to MP3...", QKeySequence("Ctrl+W"));
    // The menu shows the key; the window's own action answers it (a second window-wide
    // Ctrl+W would make the key ambiguous and dead).
    wavToMp3->setShortcutContext(Qt::WidgetShortcut);
    wavToMp3->setStatusTip(Action("ActionWavToMp3")->statusTip());
    connect(wavToMp3, &QAction::triggered, Action("ActionWavToMp3"), &QAction::trigger);
    file->addAction(wavToMp3);
    QAction* mp3ToWav = MenuItem("mnuMp3ToWav", "&MP3 to WAV...");
    mp3ToWav->setStatusTip("Convert  MP3 file to WAV file");
    connect(mp3ToWav, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::mnuMp3ToWavClick));
    file->addAction(mp3ToWav);
    QAction* wavToOgg = MenuItem("miWAVtoOGG", "WAV to O&GG...");
    connect(wavToOgg, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWAVtoOGGClick));
    file->addAction(wavToOgg);
    QAction* wavToWma = MenuItem("miWAVtoWMA", "WAV to WM&A...");
    connect(wavToWma, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWAVtoWMAClick));
    file->addAction(wavToWma);
    QAction* wavToFlac = MenuItem("miWAVtoFLAC", "WAV to &FLAC...");
    wavToFlac->setStatusTip("Convert WAV files to FLAC files (lossless)");
    connect(wavToFlac, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWAVtoFLACClick));
    file->addAction(wavToFlac);
    QAction* wavToOpus = MenuItem("miWAVtoOpus", "WAV to O&pus...");
    wavToOpus->setStatusTip("Convert WAV files to Opus files");
    connect(wavToOpus, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWAVtoOpusClick));
    file->addAction(wavToOpus);
    QAction* flacToWav = MenuItem("miFLACtoWAV", "F&LAC to WAV...");
    flacToWav->setStatusTip("Convert FLAC files to WAV files");
    connect(flacToWav, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miFLACtoWAVClick));
    file->addAction(flacToWav);
    file->addSeparator();
    QAction* folder = MenuItem("Openoutputdirectory1", "&Open output directory...");
    connect(folder, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::Openoutputdirectory1Click));
    file->addAction(folder);
    file->addSeparator();
    QAction* refresh = MenuItem("bRefresh", "&Refresh");
    connect(refresh, &QAction::triggered, this, platform::Guarded(this, &TMainForm::bRefreshClick));
    file->addAction(refresh);
    file->addSeparator();
    QAction* eject = MenuItem("EjectMenu", "&Eject CD", QKeySequence("Ctrl+E"));
    connect(eject, &QAction::triggered, this, platform::Guarded(this, &TMainForm::EjectMenuClick));
    file->addAction(eject);
    QAction* closeCd = MenuItem("CloseCdRomMenu", "&Close CD", QKeySequence("Ctrl+L"));
    connect(closeCd, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::CloseCdRomMenuClick));
    file->addAction(closeCd);
    file->addSeparator();
    file->addAction(Action("ActionExit"));

    QMenu* actions = menuBar()->addMenu("&Actions");
    actions->addAction(Action("ActionExtract"));
    actions->addSeparator();
    actions->addAction(Action("ActionRecord"));
    actions->addSeparator();
    QAction* oggPlayer = MenuItem("miOGGPlayer", "&OGG Player...");
    connect(oggPlayer, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miOGGPlayerClick));
    actions->addAction(oggPlayer);
    actions->addSeparator();
    actions->addActions({Action("aPlay"), Action("aPause"), Action("aStop")});
    actions->addSeparator();
    QAction* volume = MenuItem("VolumeControlMenu", "&Volume Control...", QKeySequence("Ctrl+V"));
    connect(volume, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::VolumeControlMenuClick));
    actions->addAction(volume);
    actions->addSeparator();
    QMenu* history = actions->addMenu("&Clear History");
    QAction* real = MenuItem("miRealOnePlayer", "&RealPlayer");
    connect(real, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miRealOnePlayerClick));
    history->addAction(real);
    QAction* mediaPlayer = MenuItem("miWindowsMediaPlayer", "&Windows Media Player");
    connect(mediaPlayer, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miWindowsMediaPlayerClick));
    history->addAction(mediaPlayer);
    actions->addSeparator();
    QAction* verify = MenuItem("miVerifyFiles", "Verify &Files...");
    connect(verify, &QAction::triggered, this,
            platform::Guarded(this, &TMainForm::miVerifyFilesClick));
    actions->addAction(verify);

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addActions({Action("ActionSelectAll"), Action("ActionNoSelect")});
    edit->addSeparator();
    edit->addAction(Action("aQueryCDDB"));
    edit->addAction(Action("aQueryMusicBrainz"));
    edit->addSeparator();
    edit->addActions({Action("aEditTrackName"), Action("aID3Edit")});
    edit->addSeparator();
    // The text after the tab shows the shortcut, which the action itself carries.
    QAction* options = MenuItem("miOptions", "&Options...	Ctrl+O");
    connect(options, &QAction::triggered, Action("ActionOptionSet"), &QAction::trigger);
    edit->addAction(options);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(Action("mnuHelp"));
    help->addSeparator();
    help->addAction(Action("mnuAbout"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->addAction(Action("ActionExtract"));
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({Action("ActionSelectAll"), Action("ActionNoSelect")});
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({Action("aPlay"), Action("aPause"), Action("aStop")});
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(Action("aEditTrackName"));
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            platform::Guarded(
                [this](const QPoint& pos) { PopupMenu1->popup(ListView1->mapToGlobal(pos)); }));
}

void TMainForm::CreateToolBar() {
    ToolBar1 = new QToolBar(centralWidget());
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setMovable(false);
    ToolBar1->setAutoFillBackground(true);
    auto button = [this](const char* action, const QString& caption, QStyle::StandardPixmap icon) {
        auto* a = new QAction(ToolBarIcon(style()->standardIcon(icon), ToolBar1->iconSize()),
                              caption, this);
        QAction* target = Action(action);
        a->setEnabled(target->isEnabled());
        a->setToolTip(target->toolTip());
        connect(a, &QAction::triggered, target, &QAction::trigger);
        connect(target, &QAction::changed, a, [a, target] { a->setEnabled(target->isEnabled()); });
        ToolBar1->addAction(a);
    };
    button("ActionExtract", "Extract", QStyle::SP_DriveCDIcon);
    ToolBar1->addSeparator();
    button("ActionWavToMp3", "Encode", QStyle::SP_MediaPlay);
    ToolBar1->addSeparator();
    button("Openoutputdirectory1", "Folder", QStyle::SP_DirOpenIcon);
    ToolBar1->addSeparator();
    button("ActionRecord", "Record", QStyle::SP_DialogYesButton);
    button("ActionOptionSet", "Options", QStyle::SP_FileDialogDetailedView);
    ToolBar1->addSeparator();
    button("ActionExit", "Exit", QStyle::SP_DialogCloseButton);
}

void TMainForm::CreateTrackList() {
    ListView1 = new QTreeWidget(centralWidget());
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setHeaderLabels({"No.", "Title", "Length(min)", "Size(MB)"});
    const int widths[] = {90, 230, 100, 90};
    for (int c = 0; c < 4; ++c) {
        ListView1->setColumnWidth(c, widths[c]);
    }
    // Width gained or lost goes to the title (eventFilter), not to the last column.
    ListView1->header()->setStretchLastSection(false);
    ListView1->viewport()->installEventFilter(this);
    ListView1->headerItem()->setTextAlignment(ColLength, Qt::AlignCenter);
    ListView1->headerItem()->setTextAlignment(ColSize, Qt::AlignCenter);
    connect(ListView1, &QTreeWidget::itemClicked, this,
            platform::Guarded([this](QTreeWidgetItem* item, int) { ListView1Click(item); }));
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            platform::Guarded(this, &TMainForm::ListView1DblClick));
    connect(ListView1, &QTreeWidget::itemChanged, this,
            platform::Guarded(this, &TMainForm::UpdateActions));
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this,
            platform::Guarded(this, &TMainForm::UpdateActions));
    // Rows added or removed by any path (a refresh, a cleared list) change what is enabled.
    QAbstractItemModel* rows = ListView1->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this,
            platform::Guarded(this, &TMainForm::UpdateActions));
    connect(rows, &QAbstractItemModel::rowsRemoved, this,
            platform::Guarded(this, &TMainForm::UpdateActions));
    connect(rows, &QAbstractItemModel::modelReset, this,
            platform::Guarded(this, &TMainForm::UpdateActions));
}

void TMainForm::ListView1DblClick() {
    if (SelectedRow() != nullptr) {
        Action("aEditTrackName")->trigger();
    }
}

void TMainForm::ListView1Click(QTreeWidgetItem* item) {
    if (item != nullptr && (QApplication::keyboardModifiers() & Qt::ControlModifier)) {
        item->setCheckState(ColNumber, item->checkState(ColNumber) == Qt::Checked ? Qt::Unchecked
                                                                                  : Qt::Checked);
    }
}

void TMainForm::aQueryCDDBExecute() {
    cd::ModifyCDParms(CDHandle_, cd::CDP_MSF_ADDRESSES, 1);
    cd::TTOC toc{};
    if (cd::ReadTOC(CDHandle_, toc) != 1) {
        platform::ErrorBox(this, "Error while reading TOC information!");
        return;
    }
    tags::TfrmQueryCDDB form(this, toc.firstTrack, toc.lastTrack, CDHandle_, ListView1);
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::aQueryMusicBrainzExecute() {
    TDiscLookup::QueryMusicBrainz(this, CDHandle_, ListView1);
}

// A disc the record does not know is looked up once the window has settled, when the
// settings ask for it; the same disc is not asked again until another one opens.
void TMainForm::StartAutomaticLookup() {
    if (!TDiscLookup::AutomaticWanted() || TDiscLookup::DiscKnown()) {
        return; // checked first: the disc key reads the drive
    }
    const std::string key = settings::DiscKey();
    if (key == autoLookupDisc_) {
        return;
    }
    autoLookupDisc_ = key;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (CDHandle_ != 0 && ListView1->topLevelItemCount() > 0) {
                TDiscLookup::RunAutomatic(this, CDHandle_, ListView1);
            }
        },
        Qt::QueuedConnection);
}

void TMainForm::ActionOptionSetExecute() {
    settings::TOptionSetForm form(this, [this](int position) {
        // The device open until now is released first; a failed open leaves none.
        settings::CloseCD(CDHandle_);
        CDHandle_ = OpenDevice(position);
        FillTrackList();
        IdleStatusText_ = StatusText();
    });
    form.move(pos() + QPoint(50, 50));
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::aEditTrackNameExecute() {
    QTreeWidgetItem* row = ListView1->currentItem();
    if (row == nullptr || !row->isSelected()) {
        return;
    }
    tags::TfrmEditTrackName form(this);
    form.eName->setText(row->text(ColTitle));
    if (platform::TheDialogs().ExecModal(&form) == QDialog::Accepted) {
        row->setText(ColTitle, form.eName->text());
    }
}

void TMainForm::aID3EditExecute() {
    tags::TfrmID3Edit form(this);
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::mnuAboutClick() {
    TAboutBox about(this);
    platform::TheDialogs().ExecModal(&about);
}

void TMainForm::mnuHelpClick() {
    const std::string index = FindHelpIndex(platform::ExecutableFolder());
    if (index.empty()) {
        platform::ErrorBox(this, "The help files were not found beside the program or under "
                                 "share/vellorine/help of its installation.");
    } else if (!platform::TheShell().Open(QString::fromStdString(index))) {
        platform::ErrorBox(this, "No program to show the help was found. Open " +
                                     QString::fromStdString(index) + " in a web browser.");
    }
}

void TMainForm::miWAVtoWAVClick() {
    tools::TfrmResample form(this);
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::miOGGPlayerClick() {
    // Whatever goes wrong around the player is discarded: no box, only a line on stderr.
    try {
        tools::TfrmOggPlayer form(this);
        platform::TheDialogs().ExecModal(&form);
    } catch (const std::exception& e) {
        qWarning("OGG player: %s", e.what());
    } catch (...) {
        qWarning("OGG player: unknown error");
    }
}

void TMainForm::ActionSelectAllExecute() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        ListView1->topLevelItem(i)->setCheckState(ColNumber, Qt::Checked);
    }
}

void TMainForm::ActionNoSelectExecute() {
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        ListView1->topLevelItem(i)->setCheckState(ColNumber, Qt::Unchecked);
    }
}

void TMainForm::ActionExtractExecute() {
    if (CDHandle_ == 0) {
        platform::InfoBox(this, "Please access CD devices rightly above all!");
        return;
    }
    QStringList items;
    for (int k = 0; k < ListView1->topLevelItemCount(); ++k) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(k);
        if (row->checkState(ColNumber) == Qt::Checked) {
            items << QString::fromStdString(settings::TwoDigits(k + 1)) + row->text(ColTitle);
        }
    }
    if (items.isEmpty()) {
        platform::InfoBox(this, "Please select a track at least!");
        return;
    }
    const settings::TCommonOptions& common = settings::Settings.CommonOptions;
    const QString folder = QString::fromStdString(common.OutputFolder);
    if (!OutputFolderExists(folder)) {
        if (!platform::YesNoBox(this,
                                folder + "," + "The output directory does not exist." + "\r\n" +
                                    "creates a new directory?",
                                platform::MbIcon::Information)) {
            return;
        }
        // One level only: the parent must exist.
        if (folder.isEmpty() || !QDir().mkdir(folder)) {
            platform::TApplication::ShowException("Cannot create " + folder);
            return;
        }
    }
    if (QAction* stop = Action("aStop"); stop != nullptr && stop->isEnabled()) {
        stop->trigger(); // a CD track is playing
    }
    if (common.EnableRipTime && common.RipTime == 0) {
        platform::InfoBox(this,
                          "You select to extract 0 second, please change it on Options dialog.");
        return;
    }
    if (!CheckOutputFolder() || !CheckTitlesNameFiles()) {
        return;
    }
    RunJob(jobs::jkExtract, CDHandle_, items);
}

bool TMainForm::CheckOutputFolder() {
    if (OutputFolderExists(QString::fromStdString(settings::Settings.CommonOptions.OutputFolder))) {
        return true;
    }
    platform::InfoBox(this, QStringLiteral("The output directory does not exist.") +
                                "Please check the output directory setting.");
    return false;
}

// Checked before the job starts, while the user is there: a title that cannot name a file
// would otherwise stop an unattended rip with a box halfway through.
bool TMainForm::CheckTitlesNameFiles() {
    QStringList untitled;
    for (int k = 0; k < ListView1->topLevelItemCount(); ++k) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(k);
        if (row->checkState(ColNumber) == Qt::Checked &&
            settings::FileNameFromTitle(row->text(ColTitle).toStdString()).empty()) {
            untitled << row->text(ColNumber);
        }
    }
    if (untitled.isEmpty()) {
        return true;
    }
    const QString text = untitled.size() == 1
                             ? QStringLiteral("The title of track %1 is empty: no file can be "
                                              "named after it.")
                             : QStringLiteral("The titles of tracks %1 are empty: no file can be "
                                              "named after them.");
    platform::InfoBox(this, text.arg(untitled.join(QStringLiteral(", "))) +
                                " Please rename the Title in the CD tracks list.");
    return false;
}

void TMainForm::RunJob(int jobKind, int cdHandle, const QStringList& items) {
    jobs::TRipForm form(this, items, cdHandle, jobKind);
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::ConvertChosenFiles(const QString& filter, int jobKind) {
    OpenDialog1.filter = filter;
    OpenDialog1.fileName.clear();
    OpenDialog1.multiSelect = true;
    const QStringList files = platform::TheDialogs().OpenFiles(this, OpenDialog1);
    if (!files.isEmpty() && CheckOutputFolder()) {
        RunJob(jobKind, 0, files);
    }
}

void TMainForm::ActionWavToMp3Execute() {
    ConvertChosenFiles("Sound file(*.wav)|*.wav| Any file(*.*)|*.*", jobs::jkWavToMp3);
}

void TMainForm::mnuMp3ToWavClick() {
    ConvertChosenFiles("MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*", jobs::jkMp3ToWav);
}

void TMainForm::miWAVtoOGGClick() {
    try {
        ConvertChosenFiles("Sound file(*.wav)|*.wav| Any file(*.*)|*.*", jobs::jkWavToOgg);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellorine: WAV to OGG: %s\n", e.what());
    }
}

void TMainForm::miWAVtoWMAClick() {
    try {
        ConvertChosenFiles("Sound file(*.wav)|*.wav| Any file(*.*)|*.*", jobs::jkWavToWma);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellorine: WAV to WMA: %s\n", e.what());
    }
}

void TMainForm::miWAVtoFLACClick() {
    ConvertChosenFiles("Sound file(*.wav)|*.wav| Any file(*.*)|*.*", jobs::jkWavToFlac);
}

void TMainForm::miWAVtoOpusClick() {
    ConvertChosenFiles("Sound file(*.wav)|*.wav| Any file(*.*)|*.*", jobs::jkWavToOpus);
}

void TMainForm::miFLACtoWAVClick() {
    ConvertChosenFiles("FLAC file(*.flac)|*.flac| Any file(*.*)|*.*", jobs::jkFlacToWav);
}

void TMainForm::ActionExitExecute() {
    close();
}

void TMainForm::Openoutputdirectory1Click() {
    const QString folder = QString::fromStdString(settings::Settings.CommonOptions.OutputFolder);
    if (!folder.isEmpty() && QDir(folder).exists()) {
        if (!platform::TheShell().Open(folder)) {
            platform::ErrorBox(this, "No program to show the folder was found. The output "
                                     "folder is " +
                                         folder + ".");
        }
    } else {
        platform::ErrorBox(this, folder + "," + kNoOutputFolder);
    }
}

// The tray commands reach the first physical drive; a disc image has none. What they
// change reaches the list through the media-change notification.
void TMainForm::EjectMenuClick() {
    cd::SetDoorOpen(true);
}

void TMainForm::CloseCdRomMenuClick() {
    cd::SetDoorOpen(false);
}

void TMainForm::VolumeControlMenuClick() {
    if (!platform::OpenVolumeControl(false)) {
        platform::ErrorBox(this, platform::VolumeControlMissingText());
    }
}

void TMainForm::miVerifyFilesClick() {
    cd::VerifyFilesForm form(this, CDHandle_,
                             QString::fromStdString(settings::Settings.CommonOptions.OutputFolder));
    platform::TheDialogs().ExecModal(&form);
}

void TMainForm::miRealOnePlayerClick() {
    ClearPlayerHistory(RealPlayerProgram, "Please close RealOne Player firstly.Continue?",
                       ClearRealPlayerHistory);
}

void TMainForm::miWindowsMediaPlayerClick() {
    ClearPlayerHistory(MediaPlayerProgram,
                       "Please close Windows Media Player first: it rewrites its list when it "
                       "exits. Continue?",
                       ClearMediaPlayerHistory);
}

// Asks first (No by default) while the player runs, since it would write its list back.
void TMainForm::ClearPlayerHistory(const std::string& program, const QString& question,
                                   int (*clear)(const std::string& hivePath)) {
    if (platform::IsProgramRunning(program) &&
        platform::TheDialogs().MessageBox(this, question, "Vellorine",
                                          platform::MbIcon::Information, platform::MbButtons::YesNo,
                                          platform::MbResult::No) != platform::MbResult::Yes) {
        return;
    }
    try {
        const int count = clear(platform::RegistryHive::UserHivePath());
        platform::InfoBox(this, QString::number(count) + kListDeleted);
    } catch (const std::exception& e) {
        // Nothing was deleted when the hive could not be written back.
        platform::ErrorBox(this, QString::fromStdString(e.what()));
    }
}

// Play resumes a paused track (whichever row is selected) or starts the selected row's
// track, to the next track's start or, on the last row, to the end of the disc.
void TMainForm::aPlayExecute() {
    QTreeWidgetItem* row = SelectedRow();
    if (row == nullptr) {
        return;
    }
    SetStatusText("Play " + row->text(ColTitle));
    const bool stopEnabled = Action("aStop")->isEnabled();
    const bool pauseEnabled = Action("aPause")->isEnabled();
    Playing_ = true;
    Paused_ = false;
    const unsigned generation = ++playGeneration_;
    auto notify = [this, generation](std::uint32_t result) {
        QMetaObject::invokeMethod(
            this, [this, generation, result] { MediaPlayer1Notify(generation, result); },
            Qt::QueuedConnection);
    };
    platform::MCIERROR result = platform::MCIERR_NOERROR;
    if (stopEnabled && !pauseEnabled) {
        if (MediaPlayer1->Resume() != platform::MCIERR_NOERROR) {
            result = MediaPlayer1->Play(MediaPlayer1->Position(), playEnd_, notify);
        } else {
            --playGeneration_; // the resumed play keeps its notification
        }
    } else {
        if (stopEnabled) {
            MediaPlayer1->Close();
        }
        result = MediaPlayer1->Open(std::make_unique<TCdAudioSource>(CDHandle_));
        if (result == platform::MCIERR_NOERROR) {
            const int k = ListView1->indexOfTopLevelItem(row);
            const bool lastRow = k == ListView1->topLevelItemCount() - 1;
            playEnd_ = lastRow ? MediaPlayer1->Length() : MediaPlayer1->TrackPosition(k + 2);
            result = MediaPlayer1->Play(MediaPlayer1->TrackPosition(k + 1), playEnd_, notify);
        }
    }
    if (result != platform::MCIERR_NOERROR) {
        // Nothing plays (no disc, no sound output): back to the idle state rather than
        // showing a track as playing.
        aStopExecute();
        return;
    }
    UpdateActions();
}

void TMainForm::aPauseExecute() {
    Paused_ = true;
    MediaPlayer1->Pause();
    UpdateActions();
}

void TMainForm::aStopExecute() {
    Playing_ = false;
    Paused_ = false;
    if (MediaPlayer1->Stop() == platform::MCIERR_NOERROR) {
        MediaPlayer1->Close();
    }
    SetStatusText(IdleStatusText_);
    UpdateActions();
}

// The end of the track stops playback; so does a play that failed on its way (the disc
// went away, the sound output was lost), which would otherwise still show as playing.
void TMainForm::MediaPlayer1Notify(unsigned generation, std::uint32_t result) {
    const bool ended =
        result == platform::MCI_NOTIFY_SUCCESSFUL || result == platform::MCI_NOTIFY_FAILURE;
    if (generation == playGeneration_ && ended && Playing_) {
        aStopExecute();
    }
}

QString TMainForm::StatusText() const {
    return StatusPanel0->text();
}

void TMainForm::SetStatusText(const QString& text) {
    StatusPanel0->setText(text);
}

void TMainForm::ClearRows() {
    ListView1->clear();
    UpdateActions();
}

int TMainForm::OpenDevice(int index) {
    cd::TCDList list{};
    list.max = 8;
    cd::GetCDList(list);
    if (list.num == 0) {
        SetStatusText(kNoDevices);
        return 0;
    }
    if (index < 0 || index >= list.num) {
        SetStatusText(kBadConfig);
        return 0;
    }
    const cd::TCDEntry& entry = list.cd[index];
    DeviceName_ = (FixedText(entry.vendor, sizeof entry.vendor) +
                   FixedText(entry.productId, sizeof entry.productId))
                      .left(26);
    SetStatusText(DeviceName_);
    cd::TCDHandleRequest request{};
    request.size = 12;
    request.ver = 1;
    request.ha = entry.ha;
    request.tgt = entry.tgt;
    request.lun = entry.lun;
    int handle = cd::GetCDHandle(request);
    for (int n = 1; handle == 0 && n <= 10; ++n) {
        if (cd::CloseCDHandle(n) != 0) {
            handle = cd::GetCDHandle(request);
            break;
        }
    }
    if (handle == 0) {
        // A disc image that cannot be read is named, instead of looking like no drive.
        const std::string problem = cd::LastOpenProblem();
        SetStatusText(problem.empty() ? kNoDevices : QString::fromStdString(problem));
    }
    return handle;
}

bool TMainForm::IsAudioCDPresent() const {
    // Only the first CD drive is looked at, whichever device is open.
    return cd::CDDriveCount() > 0 && settings::IsAudioCDDrive(0);
}

void TMainForm::FillTrackList() {
    if (CDHandle_ == 0) {
        return;
    }
    settings::LoadSaveDiscInfo(settings::DiscKey(), true);
    cd::ModifyCDParms(CDHandle_, cd::CDP_MSF_ADDRESSES, 1);
    ClearRows();
    cd::TTOC toc{};
    if (cd::ReadTOC(CDHandle_, toc) != 1) {
        SetStatusText(kNoTOC);
        return;
    }
    const QSignalBlocker block(ListView1);
    for (const TrackRow& row : TrackRowsFromTOC(toc)) {
        auto* item = new QTreeWidgetItem(ListView1);
        item->setText(ColNumber, QString::number(row.number));
        item->setCheckState(ColNumber, Qt::Checked);
        std::string& title = settings::DiscInfo.Titles[static_cast<std::size_t>(row.number)];
        if (title.empty()) {
            title = "Track" + settings::TwoDigits(row.number);
        }
        item->setText(ColTitle, QString::fromStdString(title));
        item->setText(ColLength, QString::fromStdString(LengthText(row)));
        item->setText(ColSize, QString::fromStdString(SizeText(row)));
        item->setTextAlignment(ColLength, Qt::AlignCenter);
        item->setTextAlignment(ColSize, Qt::AlignCenter);
    }
    SetStatusText(DeviceName_);
    UpdateActions();
    ShowDiscNotice();
    StartAutomaticLookup();
}

// An image shorter than its cue sheet is listed without the tracks beyond its data; the
// user is told once per image, after the window has settled.
void TMainForm::ShowDiscNotice() {
    const std::string notice = cd::DiscNotice(CDHandle_);
    if (notice.empty() || notice == shownDiscNotice_) {
        return;
    }
    shownDiscNotice_ = notice;
    QMetaObject::invokeMethod(
        this, [this, notice] { platform::InfoBox(this, QString::fromStdString(notice)); },
        Qt::QueuedConnection);
}

void TMainForm::bRefreshClick() {
    if (IsAudioCDPresent()) {
        FillTrackList();
        if (StatusText() == kNoAudioCD) {
            SetStatusText(DeviceName_);
        }
    } else {
        ClearRows();
        SetStatusText(kNoAudioCD);
    }
}

void TMainForm::DeviceChange(unsigned event, unsigned deviceType) {
    if (deviceType != platform::DBT_DEVTYP_VOLUME) {
        return;
    }
    if (event == platform::DBT_DEVICEARRIVAL) {
        FillTrackList();
    } else if (event == platform::DBT_DEVICEREMOVECOMPLETE) {
        ClearRows();
    }
}

void TMainForm::FormShow() {
    try {
        CDHandle_ = OpenDevice(0);
        if (CDHandle_ == 0) {
            return;
        }
        if (IsAudioCDPresent()) {
            FillTrackList();
        } else {
            NoAudioCD_ = true;
        }
        IdleStatusText_ = StatusText();
    } catch (...) {
        // Start-up goes on with whatever state was reached.
        platform::LogSwallowedException("opening the CD device");
    }
}

void TMainForm::FormActivate() {
    if (CDHandle_ == 0 && hintDue_ && !showingHint_) {
        hintDue_ = false;
        showingHint_ = true;
        ++noDeviceHintCount_;
        TNoDeviceHintForm hint(this);
        platform::TheDialogs().ExecModal(&hint);
        showingHint_ = false;
    }
    if (NoAudioCD_) {
        SetStatusText(kNoAudioCD);
    }
}

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    } else if (e->type() == QEvent::WindowDeactivate && !showingHint_) {
        // The user went elsewhere; coming back shows the hint again.
        hintDue_ = true;
    }
    return QMainWindow::event(e);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    if (ListView1 != nullptr && watched == ListView1->viewport() && e->type() == QEvent::Resize &&
        ListView1->isVisible()) {
        // The first layout (old size unknown) keeps the widths as designed or restored.
        const auto* resize = static_cast<QResizeEvent*>(e);
        if (resize->oldSize().isValid()) {
            const int change = resize->size().width() - resize->oldSize().width();
            ListView1->setColumnWidth(
                ColTitle, std::max(kMinTitleWidth, ListView1->columnWidth(ColTitle) + change));
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMainForm::FormCloseQuery() {
    // A running encoder child is stopped; closing is never refused.
    if (jobs::Mp3Process && jobs::Mp3Process->Active) {
        jobs::Mp3Process->StopProcess(0);
    }
    if (jobs::WmaProcess && jobs::WmaProcess->Active) {
        jobs::WmaProcess->StopProcess(0);
    }
}

void TMainForm::FormClose() {
    // Each step runs on its own: a failure in one (a full disk, a read-only file) must
    // not keep the CD device open or lose the settings.
    try {
        const int rows = ListView1->topLevelItemCount();
        settings::DiscInfo.TrackNumber = rows;
        for (int k = 0; k < rows && k < 100; ++k) {
            settings::DiscInfo.Titles[static_cast<std::size_t>(k + 1)] =
                ListView1->topLevelItem(k)->text(ColTitle).toStdString();
        }
        settings::LoadSaveDiscInfo(settings::DiscKey(), false);
    } catch (const std::exception& e) {
        ReportCloseFailure("The disc's titles could not be saved: " + QString::fromUtf8(e.what()));
    } catch (...) {
        platform::LogSwallowedException("storing the disc's titles");
    }
    try {
        if (!settings::CloseCD(CDHandle_)) {
            ReportCloseFailure("Error while closing CD handle!");
        }
        CDHandle_ = 0;
    } catch (...) {
        platform::LogSwallowedException("closing the CD device");
    }
    if (Playing_) {
        MediaPlayer1->Stop();
        MediaPlayer1->Close();
        Playing_ = false;
        Paused_ = false;
    }
    try {
        settings::Settings.MainWindow = WindowPlacementOf(*this, *ListView1);
        settings::LoadSaveOptions(false);
    } catch (const std::exception& e) {
        ReportCloseFailure("The settings could not be saved: " + QString::fromUtf8(e.what()));
    } catch (...) {
        platform::LogSwallowedException("saving the settings");
    }
}

// The user is told what was lost, unless nobody may be there to answer a box (the
// program ends for a signal): then only stderr hears of it.
void TMainForm::ReportCloseFailure(const QString& text) {
    if (unattended_) {
        std::fprintf(stderr, "vellorine: %s\n", text.toLocal8Bit().constData());
    } else {
        platform::ErrorBox(this, text);
    }
}

void TMainForm::CloseUnattended() {
    unattended_ = true;
    close();
}

void TMainForm::closeEvent(QCloseEvent* e) {
    FormCloseQuery();
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    e->accept();
}

void TMainForm::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    FormPaint();
}

void TMainForm::ApplyColours() {
    QWidget* client = centralWidget();
    client->setObjectName("Client");
    client->setAutoFillBackground(true);
    client->setStyleSheet(ColourSheet("QWidget#Client", 214, 223, 247));
    ToolBar1->setStyleSheet(ColourSheet("QToolBar", 228, 228, 255));
    ListView1->setStyleSheet(ColourSheet("QTreeWidget", 239, 239, 255));
    StatusBar1->setStyleSheet(ColourSheet("QWidget#StatusBar1", 220, 225, 255));
}

// Lays the components out as the window was designed, on every resize.
void TMainForm::FormPaint() {
    QWidget* client = centralWidget();
    const int width = client->width();
    const int height = client->height();
    const int toolBarHeight = ToolBar1->sizeHint().height();
    const int statusHeight = StatusBar1->height();
    ToolBar1->setGeometry(0, 0, width, toolBarHeight);
    ListView1->setGeometry(10, toolBarHeight, width - 20,
                           height - toolBarHeight - statusHeight - 10);
    StatusBar1->setGeometry(10, height - statusHeight - 10, width - 20, statusHeight);
    StatusPanel0->setGeometry(0, 0, StatusBar1->width(), statusHeight);
}

} // namespace app
