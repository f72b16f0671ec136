#include "settings/PerformancePage.h"

#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace settings {

TPerformancePage::TPerformancePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet8"));
    auto* page = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    seEncoders = new QSpinBox(this);
    seEncoders->setObjectName(QStringLiteral("seEncoders"));
    seEncoders->setRange(1, TPerformance::MaxEncoders);
    form->addRow(QStringLiteral("Encoders running at once:"), seEncoders);
    page->addLayout(form);
    auto* hint = new QLabel(QStringLiteral("With more than one, the next track is extracted while "
                                           "earlier tracks are encoded."),
                            this);
    hint->setWordWrap(true);
    page->addWidget(hint);
    page->addStretch();
}

void TPerformancePage::Load(const TPerformance& options) {
    seEncoders->setValue(std::clamp(options.Encoders, 1, TPerformance::MaxEncoders));
}

void TPerformancePage::Store(TPerformance& options) const {
    options.Encoders = seEncoders->value();
}

} // namespace settings
