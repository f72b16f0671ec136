#include "cli/QuietDialogs.h"

#include <cstdio>

namespace cli {

platform::MbResult TQuietDialogs::MessageBox(QWidget*, const QString& text, const QString&,
                                             platform::MbIcon, platform::MbButtons,
                                             platform::MbResult defaultButton) {
    std::fprintf(stderr, "vellorine: %s\n", text.toLocal8Bit().constData());
    return defaultButton;
}

QStringList TQuietDialogs::OpenFiles(QWidget*, const platform::FileDialogRequest&) {
    return {};
}

QString TQuietDialogs::SaveFile(QWidget*, const platform::FileDialogRequest&) {
    return {};
}

QString TQuietDialogs::BrowseFolder(QWidget*, const QString&, const QString&) {
    return {};
}

int TQuietDialogs::ExecModal(QWidget*) {
    return 0; // no window can be shown
}

} // namespace cli
