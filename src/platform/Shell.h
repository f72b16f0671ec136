#pragma once
// The desktop shell: opening a folder, a help page or a web address with the user's
// handler, and starting helper programs (the volume control) detached from us.
// Windows call TheShell(); the program uses the desktop implementation, tests install a
// RecordingShell that records each request and answers as prepared. GUI thread only.
#include <QString>
#include <QStringList>
#include <memory>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a local path (file or folder) or a URL ("https://...", "file://...") with the
    // desktop's handler. False when nothing could open it.
    virtual bool Open(const QString& target) = 0;
    // Starts `program` (searched in PATH) detached; false when it cannot be started,
    // typically because it is not installed.
    virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
};

class DesktopShell : public Shell {
public:
    bool Open(const QString& target) override;
    bool StartDetached(const QString& program, const QStringList& arguments) override;
};

struct ShellRequest {
    QString program; // empty for Open
    QStringList arguments;
    QString target; // for Open
};

class RecordingShell : public Shell {
public:
    bool Open(const QString& target) override;
    bool StartDetached(const QString& program, const QStringList& arguments) override;

    QList<ShellRequest> requests;
    bool answer = true; // what every request returns
};

// The process-wide instance (DesktopShell unless a test installed another).
Shell& TheShell();
// Installs a new instance and returns the previous one.
std::unique_ptr<Shell> InstallShell(std::unique_ptr<Shell> shell);

// The volume control ("pavucontrol"); recording opens its recording tab. False when it
// is not installed; the caller tells the user.
bool OpenVolumeControl(bool recording);
// The text a window shows when OpenVolumeControl fails.
QString VolumeControlMissingText();

} // namespace platform
