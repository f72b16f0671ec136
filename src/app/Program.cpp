#include "app/Program.h"

#include <QIcon>
#include <QTimer>

#include "app/MainForm.h"
#include "app/SignalShutdown.h"
#include "cd/ReadOffsetFinder.h"
#include "platform/ErrorDisplay.h"
#include "platform/TerminationSignals.h"
#include "settings/DiscHistory.h"
#include "settings/SecureRipPage.h"

namespace app {

int RunProgram(int argc, char** argv, const std::function<void(TMainForm&)>& started) {
    settings::ListDiscHistoryAhead(); // beside the start of the toolkit
    platform::TApplication application(argc, argv);
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellorine.Vellorine"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vellorine.Vellorine")));
    QFont font(QStringLiteral("Verdana"));
    if (font.exactMatch()) {
        QApplication::setFont(font);
    }
    // The Options dialog's Detect button runs the search of the rip library.
    settings::TSecureRipPage::InstallFinder(settings::AdaptFinder(&cd::FindReadOffset));
    TMainForm mainForm;
    // Logout and Ctrl+C end a running job and close the window as the user would, saving
    // titles and settings.
    auto* shutdown = new SignalShutdown(
        &mainForm, [&mainForm] { mainForm.CloseUnattended(); }, [] { QCoreApplication::exit(0); });
    platform::OnTerminationSignals(shutdown, [shutdown] { shutdown->Begin(); });
    mainForm.show();
    if (started) {
        QTimer::singleShot(0, &mainForm, [&mainForm, started] { started(mainForm); });
    }
    return QApplication::exec();
}

} // namespace app
