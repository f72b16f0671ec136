// Each list box of the Options dialog is bound to its own setting: it shows that setting when
// the dialog opens, and OK stores a change of that box into that setting and no other. Two
// boxes bound to each other's settings survive a round trip unchanged, so every case picks
// a value no other box holds.
#include "settings/OptionSet.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <vector>

#include "settings/Global.h"
#include "support/ScopedStandIns.h"
#include "support/TestSupport.h"

using namespace settings;

namespace {

// A box and the setting it shows, read as the number the box's position stands for.
struct Binding {
    const char* box;
    std::function<int()> setting;
};

const std::vector<Binding>& Bindings() {
    static const std::vector<Binding> bindings = {
        {"cbOutputFormat", [] { return StoredFormat(Settings.CommonOptions.OutputFormat); }},
        {"cbVBRQuality", [] { return Settings.Mp3Options.VBRQuality; }},
        {"cbMpegQuality", [] { return Settings.Mp3Options.MpegQuality; }},
        {"cbStereoMode", [] { return Settings.Mp3Options.StereoMode; }},
        {"cbOggNomBit", [] { return Settings.OggOptions.NomalBitRate; }},
        {"cbOggMaxBit", [] { return Settings.OggOptions.MaxBitRate; }},
        {"cbOggMinBit", [] { return Settings.OggOptions.MinBitRate; }},
        {"cbWMABitrate", [] { return Settings.WMAOptions.BitRate; }},
        {"ID3genre", [] { return DiscInfo.Genre; }},
    };
    return bindings;
}

// A value per box that no other box holds, so a box showing or storing another box's
// setting is seen.
void StoreDistinctPositions() {
    Settings.CommonOptions.OutputFormat = FormatFromStored(2);
    Settings.Mp3Options.VBRQuality = 6;
    Settings.Mp3Options.MpegQuality = 1;
    Settings.Mp3Options.StereoMode = 3;
    Settings.OggOptions.NomalBitRate = 7;
    Settings.OggOptions.MaxBitRate = 11;
    Settings.OggOptions.MinBitRate = 4;
    Settings.WMAOptions.BitRate = 21;
    DiscInfo.Genre = 40;
}

class OptionsBindings : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings{};
        DiscInfo = TDiscInfo{};
        Settings.CommonOptions.OutputFolder = output_.Path();
        StoreDistinctPositions();
    }
    std::unique_ptr<TOptionSetForm> Open() {
        auto form = std::make_unique<TOptionSetForm>(nullptr, [](int) {});
        form->show();
        return form;
    }
    static QComboBox* Box(TOptionSetForm& f, const char* name) {
        auto* box = f.findChild<QComboBox*>(QLatin1String(name));
        EXPECT_NE(box, nullptr) << name;
        return box;
    }
    static std::vector<int> AllSettings() {
        std::vector<int> values;
        for (const Binding& b : Bindings()) {
            values.push_back(b.setting());
        }
        return values;
    }

    testsupport::ScratchFolder output_;
    testsupport::ScopedDialogs dialogs_;
};

TEST_F(OptionsBindings, EachBoxShowsItsOwnSetting) {
    auto form = Open();
    for (const Binding& b : Bindings()) {
        QComboBox* box = Box(*form, b.box);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->currentIndex(), b.setting()) << b.box;
    }
    EXPECT_EQ(Box(*form, "cbOggNomBit")->currentText().toStdString(), "112 kbit/s");
    EXPECT_EQ(Box(*form, "cbOggMaxBit")->currentText().toStdString(), "192 kbit/s");
    EXPECT_EQ(Box(*form, "cbOggMinBit")->currentText().toStdString(), " 64 kbit/s");
}

TEST_F(OptionsBindings, OkStoresAChangedBoxIntoItsOwnSettingOnly) {
    for (std::size_t changed = 0; changed < Bindings().size(); ++changed) {
        const Binding& b = Bindings()[changed];
        SCOPED_TRACE(b.box);
        StoreDistinctPositions();
        std::vector<int> expected = AllSettings();
        auto form = Open();
        QComboBox* box = Box(*form, b.box);
        ASSERT_NE(box, nullptr);
        // The next position, a value the box did not hold before.
        const int next = (box->currentIndex() + 1) % box->count();
        box->setCurrentIndex(next);
        expected[changed] = next;
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("btOk")), Qt::LeftButton);
        ASSERT_EQ(form->result(), QDialog::Accepted);
        EXPECT_EQ(AllSettings(), expected);
    }
}

} // namespace
