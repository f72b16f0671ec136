#include "settings/FlacPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace settings {

TFlacPage::TFlacPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet9"));
    auto* page = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    seFlacLevel = new QSpinBox(this);
    seFlacLevel->setObjectName(QStringLiteral("seFlacLevel"));
    seFlacLevel->setRange(TFlacOptions::MinLevel, TFlacOptions::MaxLevel);
    form->addRow(QStringLiteral("Compression level:"), seFlacLevel);
    page->addLayout(form);
    auto* hint = new QLabel(QStringLiteral("0 is the fastest, 8 the smallest file; every level "
                                           "keeps the sound exactly."),
                            this);
    hint->setWordWrap(true);
    page->addWidget(hint);
    ckFlacVerify =
        new QCheckBox(QStringLiteral("Verify each encoded frame against its input"), this);
    ckFlacVerify->setObjectName(QStringLiteral("ckFlacVerify"));
    page->addWidget(ckFlacVerify);
    page->addStretch();
}

void TFlacPage::Load(const TFlacOptions& options) {
    seFlacLevel->setValue(
        std::clamp(options.Level, TFlacOptions::MinLevel, TFlacOptions::MaxLevel));
    ckFlacVerify->setChecked(options.Verify);
}

void TFlacPage::Store(TFlacOptions& options) const {
    options.Level = seFlacLevel->value();
    options.Verify = ckFlacVerify->isChecked();
}

} // namespace settings
