#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <cstring>

#include "Version.h"
#include "app/NoDeviceHint.h"
#include "app/TrackRows.h"
#include "app/WindowPlacement.h"
#include "cd/akrip32.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/WMAEncodeThread.h"
#include "platform/DeviceMonitor.h"
#include "platform/ErrorDisplay.h"
#include "platform/Log.h"
#include "settings/Global.h"

namespace app {

namespace {
const QString kNoDevices = QStringLiteral("No CD devices found!");
const QString kBadConfig = QStringLiteral("CD device information error in your configration!");
const QString kNoAudioCD = QStringLiteral("Can not find audio CD in your CD device.");
const QString kNoTOC = QStringLiteral("Not get CD device information!");

enum Column { ColNumber = 0, ColTitle, ColLength, ColSize };

QString FixedText(const char* bytes, std::size_t max) {
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, max)));
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
    setObjectName(QStringLiteral("MainForm"));
    setCentralWidget(new QWidget(this));
    CreateActions();
    CreateToolBar();
    CreateTrackList();
    CreateMenus();
    StatusBar1 = new QWidget(centralWidget());
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setAutoFillBackground(true);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setContentsMargins(4, 0, 4, 0);
    StatusBar1->setFixedHeight(StatusPanel0->sizeHint().height() + 6);
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
}

TMainForm::~TMainForm() {
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
    ActionList1[name] = action;
    return action;
}

QAction* TMainForm::Action(const QString& name) const {
    const auto it = ActionList1.find(name);
    return it == ActionList1.end() ? nullptr : it->second;
}

void TMainForm::CreateActions() {
    AddAction("ActionExtract", "E&xtract", "Extract the selected track", QKeySequence("Ctrl+X"));
    connect(
        AddAction("ActionSelectAll", "Select &All", "Select all tracks", QKeySequence("Ctrl+A")),
        &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionSelectAllExecute));
    connect(AddAction("ActionNoSelect", "Select &None", "Cancel selected track",
                      QKeySequence("Ctrl+N")),
            &QAction::triggered, this, platform::Guarded(this, &TMainForm::ActionNoSelectExecute));
    AddAction("ActionOptionSet", "&Options", "Options", QKeySequence("Ctrl+O"));
    connect(AddAction("ActionExit", "E&xit", "Exit the program", {}), &QAction::triggered, this,
            platform::Guarded(this, &QWidget::close));
    AddAction("ActionRecord", "&Record", "Record to wav or mp3", QKeySequence("Ctrl+R"));
    AddAction("ActionWavToMp3", "&WAV to MP3", "Convert  WAV file to MP3 file",
              QKeySequence("Ctrl+W"));
    AddAction("aPlay", "&Play", "Play the current track", QKeySequence("Ctrl+P"));
    AddAction("aPause", "P&ause", "Pause the current track", {});
    AddAction("aStop", "&Stop", "Stop the current track", {});
    AddAction("aID3Edit", "&ID3 Tag Edit", "MP3 ID3 edit", {});
    AddAction("aEditTrackName", "Rename &Title", "Rename track title", QKeySequence("F2"));
    AddAction("aQueryCDDB", "&Query Freedb", "", {});
    for (const char* pending :
         {"ActionExtract", "ActionOptionSet", "ActionRecord", "ActionWavToMp3", "aPlay", "aPause",
          "aStop", "aID3Edit", "aEditTrackName", "aQueryCDDB"}) {
        // Commands still to come stay disabled.
        ActionList1[pending]->setEnabled(false);
    }
}

QAction* TMainForm::Disabled(const QString& caption) {
    auto* action = new QAction(caption, this);
    action->setEnabled(false);
    return action;
}

void TMainForm::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(Disabled("WA&V to WAV..."));
    file->addAction(Action("ActionWavToMp3"));
    file->addAction(Disabled("&MP3 to WAV..."));
    file->addAction(Disabled("WAV to O&GG..."));
    file->addAction(Disabled("WAV to WM&A..."));
    file->addSeparator();
    file->addAction(Disabled("&Open output directory..."));
    file->addSeparator();
    QAction* refresh = file->addAction("&Refresh");
    refresh->setObjectName("bRefresh");
    connect(refresh, &QAction::triggered, this, platform::Guarded(this, &TMainForm::bRefreshClick));
    file->addSeparator();
    QAction* eject = Disabled("&Eject CD");
    eject->setShortcut(QKeySequence("Ctrl+E"));
    file->addAction(eject);
    QAction* closeCd = Disabled("&Close CD");
    closeCd->setShortcut(QKeySequence("Ctrl+L"));
    file->addAction(closeCd);
    file->addSeparator();
    file->addAction(Action("ActionExit"));

    QMenu* actions = menuBar()->addMenu("&Actions");
    actions->addAction(Action("ActionExtract"));
    actions->addSeparator();
    actions->addAction(Action("ActionRecord"));
    actions->addSeparator();
    actions->addAction(Disabled("&OGG Player..."));
    actions->addSeparator();
    actions->addActions({Action("aPlay"), Action("aPause"), Action("aStop")});
    actions->addSeparator();
    QAction* volume = Disabled("&Volume Control...");
    volume->setShortcut(QKeySequence("Ctrl+V"));
    actions->addAction(volume);
    actions->addSeparator();
    QMenu* history = actions->addMenu("&Clear History");
    history->addAction(Disabled("&RealPlayer"));
    history->addAction(Disabled("&Windows Media Player"));

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addActions({Action("ActionSelectAll"), Action("ActionNoSelect")});
    edit->addSeparator();
    edit->addAction(Action("aQueryCDDB"));
    edit->addSeparator();
    edit->addActions({Action("aEditTrackName"), Action("aID3Edit")});
    edit->addSeparator();
    QAction* options = edit->addAction("&Options...");
    options->setEnabled(false);

    QMenu* help = menuBar()->addMenu("&Help");
    QAction* helpItem = Disabled("&Help");
    helpItem->setShortcut(QKeySequence("F1"));
    help->addAction(helpItem);
    help->addSeparator();
    help->addAction(Disabled("&About..."));

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
        auto* a = new QAction(style()->standardIcon(icon), caption, this);
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
    QAction* folder = ToolBar1->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), "Folder");
    folder->setEnabled(false);
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
    ListView1->headerItem()->setTextAlignment(ColLength, Qt::AlignCenter);
    ListView1->headerItem()->setTextAlignment(ColSize, Qt::AlignCenter);
    connect(ListView1, &QTreeWidget::itemClicked, this,
            platform::Guarded([this](QTreeWidgetItem* item, int) { ListView1Click(item); }));
}

void TMainForm::ListView1Click(QTreeWidgetItem* item) {
    if (item != nullptr && (QApplication::keyboardModifiers() & Qt::ControlModifier)) {
        item->setCheckState(ColNumber, item->checkState(ColNumber) == Qt::Checked ? Qt::Unchecked
                                                                                  : Qt::Checked);
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

QString TMainForm::StatusText() const {
    return StatusPanel0->text();
}

void TMainForm::SetStatusText(const QString& text) {
    StatusPanel0->setText(text);
}

void TMainForm::ClearRows() {
    ListView1->clear();
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
        SetStatusText(kNoDevices);
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
    cd::ModifyCDParms(CDHandle_, 36, 1);
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
    } catch (...) {
        platform::LogSwallowedException("storing the disc's titles");
    }
    try {
        if (!settings::CloseCD(CDHandle_)) {
            platform::ErrorBox(this, "Error while closing CD handle!");
        }
        CDHandle_ = 0;
    } catch (...) {
        platform::LogSwallowedException("closing the CD device");
    }
    Playing_ = false; // CD playback is stopped here once it exists
    try {
        settings::Settings.MainWindow = WindowPlacementOf(*this, *ListView1);
        settings::LoadSaveOptions(false);
    } catch (...) {
        platform::LogSwallowedException("saving the settings");
    }
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
