#include "settings/OpusPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace settings {

TOpusPage::TOpusPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet10"));
    auto* page = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    seOpusBitRate = new QSpinBox(this);
    seOpusBitRate->setObjectName(QStringLiteral("seOpusBitRate"));
    seOpusBitRate->setRange(TOpusOptions::MinBitRate, TOpusOptions::MaxBitRate);
    seOpusBitRate->setSuffix(QStringLiteral(" kbit/s"));
    form->addRow(QStringLiteral("Bit rate (variable):"), seOpusBitRate);
    page->addLayout(form);
    auto* hint = new QLabel(QStringLiteral("CD audio is resampled to 48 kHz, the rate Opus "
                                           "plays at. 128 to 160 kbit/s suit music."),
                            this);
    hint->setWordWrap(true);
    page->addWidget(hint);
    page->addStretch();
}

void TOpusPage::Load(const TOpusOptions& options) {
    seOpusBitRate->setValue(
        std::clamp(options.BitRate, TOpusOptions::MinBitRate, TOpusOptions::MaxBitRate));
}

void TOpusPage::Store(TOpusOptions& options) const {
    options.BitRate = seOpusBitRate->value();
}

} // namespace settings
