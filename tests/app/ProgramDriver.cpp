// The program exactly as its main() runs it, with one command of the main window triggered
// once the window is shown (argv[1]: the action's name), for tests that need the real
// process: signals, exit codes, what is left on disk. A moment after the command has
// started it prints "modal <class>" with the modal window it opened ("none" if none).
#include <QAction>
#include <QApplication>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/MainForm.h"
#include "app/Program.h"

namespace {
// Looks for the command's modal window this often, from inside the command's own loop.
constexpr int kLookEveryMs = 1;

// Prints the class of the first modal window that opens (or "none" after a while).
void ReportModalWindow(QObject* context) {
    auto* timer = new QTimer(context);
    auto looks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, context, [timer, looks] {
        const QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && ++*looks < 2000) {
            return;
        }
        std::printf("modal %s\n", modal != nullptr ? modal->metaObject()->className() : "none");
        std::fflush(stdout);
        timer->stop();
    });
    timer->start(kLookEveryMs);
}
} // namespace

int main(int argc, char** argv) {
    const QString action = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    return app::RunProgram(argc, argv, [action](app::TMainForm& form) {
        ReportModalWindow(&form);
        if (QAction* command = form.Action(action)) {
            command->trigger();
        }
    });
}
