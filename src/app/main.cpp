#include <QIcon>

#include "app/MainForm.h"
#include "platform/ErrorDisplay.h"
#include "platform/TerminationSignals.h"

int main(int argc, char** argv) {
    platform::TApplication application(argc, argv);
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellorine.Vellorine"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vellorine.Vellorine")));
    QFont font(QStringLiteral("Verdana"));
    if (font.exactMatch()) {
        QApplication::setFont(font);
    }
    app::TMainForm mainForm;
    // Logout and Ctrl+C close the window as the user would, saving titles and settings.
    platform::CloseOnTerminationSignals(&mainForm);
    mainForm.show();
    return QApplication::exec();
}
