#pragma once
// The Options dialog's "Performance" page: how many encode steps an extraction may run at
// once. One (the default) runs every step in turn; more extract the next track while
// earlier ones encode.
//
// Load fills the control from a record; Store copies it back (the dialog calls it on OK
// only). GUI thread only; the dialog's page control owns the page.
#include <QWidget>

#include "settings/Global.h"

class QSpinBox;

namespace settings {

class TPerformancePage : public QWidget {
    Q_OBJECT
public:
    explicit TPerformancePage(QWidget* parent = nullptr);

    void Load(const TPerformance& options);
    void Store(TPerformance& options) const;

    QSpinBox* seEncoders = nullptr;
};

} // namespace settings
