#include "platform/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {
std::unique_ptr<Shell>& Instance() {
    static std::unique_ptr<Shell> instance = std::make_unique<DesktopShell>();
    return instance;
}

QUrl UrlOf(const QString& target) {
    const QUrl url(target);
    if (url.isValid() && url.scheme().size() > 1)
        return url; // "C:" style never occurs here
    return QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
}
} // namespace

bool DesktopShell::Open(const QString& target) {
    const QUrl url = UrlOf(target);
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile()))
        return false;
    return QDesktopServices::openUrl(url);
}

bool DesktopShell::StartDetached(const QString& program, const QStringList& arguments) {
    // startDetached would also fail for a missing program, but only after forking.
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    return QProcess::startDetached(program, arguments);
}

bool RecordingShell::Open(const QString& target) {
    requests.append({{}, {}, target});
    return answer;
}

bool RecordingShell::StartDetached(const QString& program, const QStringList& arguments) {
    requests.append({program, arguments, {}});
    return answer;
}

Shell& TheShell() {
    return *Instance();
}

std::unique_ptr<Shell> InstallShell(std::unique_ptr<Shell> shell) {
    std::swap(Instance(), shell);
    return shell;
}

bool OpenVolumeControl(bool recording) {
    QStringList arguments;
    if (recording)
        arguments << QStringLiteral("--tab=2");
    return TheShell().StartDetached(QStringLiteral("pavucontrol"), arguments);
}

QString VolumeControlMissingText() {
    return QStringLiteral("The volume control (pavucontrol) is not installed.\n"
                          "Install the package \"pavucontrol\" to change the volume.");
}

} // namespace platform
