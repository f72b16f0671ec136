#pragma once
// The hint shown while no CD device could be opened: why that happens and where to
// look for help.
#include <QDialog>

namespace app {

class TNoDeviceHintForm : public QDialog {
    Q_OBJECT
public:
    explicit TNoDeviceHintForm(QWidget* parent = nullptr);
};

} // namespace app
