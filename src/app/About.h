#pragma once
// The About window: the program's picture, name and version, two links to the projects
// whose work it uses, and OK. Links open through platform::TheShell(). GUI thread only;
// the caller creates, runs modally and frees it.
#include <QDialog>

class QPushButton;

namespace app {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* owner = nullptr);

    // The two links, in their order on the window.
    static const char* const kLinks[2];

    QPushButton* Link1 = nullptr;
    QPushButton* Link2 = nullptr;
    QPushButton* OKButton = nullptr;

private:
    QPushButton* AddLink(const QString& caption, const char* url);
};

} // namespace app
