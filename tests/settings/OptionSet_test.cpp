// The Options dialog driven through its controls: what it shows, what OK stores, what it
// refuses, and the device it asks its owner to reopen.
#include "settings/OptionSet.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "cd/DiscImages.h"
#include "settings/Global.h"
#include "settings/SecureRipPage.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

using namespace settings;

namespace {

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        cdtest::UseImages({});
        Settings = TSettings{};
        DiscInfo = TDiscInfo{};
        Settings.CommonOptions.OutputFolder = output_.Path();
    }

    TOptionSetForm& Open() {
        form_ =
            std::make_unique<TOptionSetForm>(nullptr, [this](int p) { reopened_.push_back(p); });
        form_->show();
        return *form_;
    }
    // A check box takes clicks on its box and caption only, not on the rest of its row.
    void Click(QWidget* w) {
        const bool box = qobject_cast<QCheckBox*>(w) != nullptr;
        QTest::mouseClick(w, Qt::LeftButton, {}, box ? QPoint(6, w->height() / 2) : QPoint());
    }
    static void Type(QWidget* w, const QString& text) {
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->selectAll();
        } else if (auto* box = qobject_cast<QComboBox*>(w)) {
            box->lineEdit()->selectAll();
        }
        QTest::keyClick(w, Qt::Key_Backspace);
        QTest::keyClicks(w, text);
    }
    // Every setting and DiscInfo field the dialog can touch, as text.
    std::string Snapshot() const {
        LoadSaveOptions(false);
        return testsupport::ReadText(home_.File("options.ini")) + DiscInfo.Artist + "|" +
               DiscInfo.Album + "|" + DiscInfo.Year + "|" + std::to_string(DiscInfo.Genre) + "|" +
               DiscInfo.Comment;
    }
    testsupport::ScratchFolder home_;
    const testsupport::ScopedEnv homeEnv_{"VELLORINE_HOME", home_.Path().c_str()};
    testsupport::ScratchFolder output_;
    testsupport::ScratchFolder images_;
    testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* dialogs_ = scripted_.get();
    std::unique_ptr<TOptionSetForm> form_;
    std::vector<int> reopened_;
};

TEST_F(OptionsDialog, ShowsEverySettingAndConfirmingUnchangedStoresThemAsTheyWere) {
    TCommonOptions& c = Settings.CommonOptions;
    c.OutputFormat = settings::TOutputFormat::ofOgg;
    c.IsKeepWav = true;
    c.IsNormalize = true;
    c.NormalizePercent = 87;
    c.RipTime = 42;
    TMp3Options& m = Settings.Mp3Options;
    m.IsSelectVBR = true;
    m.BitRate = 32;
    m.MaxBitRate = 256;
    m.MpegQuality = 2;
    m.VBRQuality = 7;
    m.StereoMode = 4;
    Settings.OggOptions = {false, 77, 3, 5, 1};
    Settings.WMAOptions.BitRate = 31;
    Settings.ID3.Use = true;
    DiscInfo.Artist = "Caf\xc3\xa9 Trio";
    DiscInfo.Album = "Live";
    DiscInfo.Year = "1999";
    DiscInfo.Comment = "home";
    const std::string before = Snapshot();

    // The round trip below shows every value; these are the ones shown differently.
    auto& f = Open();
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TabSheet1);
    EXPECT_FALSE(f.ckbKeepWav->isChecked()) << "shown inverted";
    EXPECT_TRUE(f.SpinEdit1->isEnabled());
    EXPECT_FALSE(f.eRipTime->isEnabled());
    EXPECT_EQ(f.cbBitRate->currentText(), "32 kbit/s");
    EXPECT_EQ(f.cbWMABitrate->currentText(), " 8.000 kHz,   6 kbit/s, Mono");
    EXPECT_EQ(f.ID3artist->text(), "Caf\u00e9 Trio");
    EXPECT_EQ(f.ID3genre->currentIndex(), -1);
    EXPECT_TRUE(f.ckbCDDb->isHidden());

    QTest::keyClick(f.editOutputDir, Qt::Key_Return); // Enter confirms
    EXPECT_EQ(f.result(), QDialog::Accepted);
    EXPECT_EQ(Snapshot(), before) << "CD-ROM page never shown: Index stays -1";
    EXPECT_TRUE(reopened_.empty());
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST_F(OptionsDialog, OkStoresWhatWasTypedAndClickedCancelStoresNothing) {
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Settings = TSettings{};
        Settings.CommonOptions.OutputFolder = output_.Path();
        DiscInfo = TDiscInfo{};
        const std::string before = Snapshot();
        auto& f = Open();
        const std::string folder = images_.Path();
        Type(f.editOutputDir, QString::fromStdString(folder));
        f.cbOutputFormat->setCurrentIndex(3);
        Click(f.ckbKeepWav);
        Click(f.ckNormalize);
        QTest::keyClick(f.SpinEdit1, Qt::Key_Up);
        QTest::keyClicks(f.SpinEdit1, "7"); // typing is ignored
        Click(f.cbRipTime);
        Type(f.eRipTime, "-5");
        Click(f.ckbSelectVBR);
        Click(f.ckbVBRHead);
        Type(f.cbBitRate, "96 kbit/s");
        Type(f.cbMaxBitRate, "192");
        f.cbVBRQuality->setCurrentIndex(2);
        Click(f.cbUseCompress);
        QTest::keyClick(f.tbCompression, Qt::Key_End);
        f.cbOggMinBit->setCurrentIndex(14);
        f.cbWMABitrate->setCurrentIndex(0);
        Click(f.cbUseID3);
        Type(f.ID3artist, "An artist whose name is longer than thirty");
        Type(f.ID3year, "20245");
        f.ID3genre->setCurrentIndex(1);
        TSecureRipPage& secure = *f.TabSheet7;
        Click(secure.ckSecureRip);
        secure.seReadOffset->selectAll();
        QTest::keyClicks(secure.seReadOffset, "-48");
        Click(secure.ckTestAndCopy);
        Type(secure.eAccurateRipServer, " http://127.0.0.1:8080 ");
        Click(secure.ckAccurateRip);
        Type(secure.eCTDBServer, " http://127.0.0.1:8081 ");
        Click(secure.ckFastFirst); // before both databases are off, which disable it
        Click(secure.ckCTDB);
        Click(ok ? f.btOk : f.btCancel);

        if (!ok) {
            EXPECT_EQ(Snapshot(), before);
            continue;
        }
        const TCommonOptions& c = Settings.CommonOptions;
        EXPECT_EQ(c.OutputFolder, folder);
        EXPECT_EQ(c.OutputFormat, settings::TOutputFormat::ofWma);
        EXPECT_TRUE(c.IsKeepWav);
        EXPECT_TRUE(c.IsNormalize);
        EXPECT_EQ(c.NormalizePercent, 96);
        EXPECT_TRUE(c.EnableRipTime);
        EXPECT_EQ(c.RipTime, -5);
        const TMp3Options& m = Settings.Mp3Options;
        EXPECT_TRUE(m.IsSelectVBR);
        EXPECT_TRUE(m.IsVBRHead);
        EXPECT_EQ(m.BitRate, 96);
        EXPECT_EQ(m.MaxBitRate, 192);
        EXPECT_EQ(m.VBRQuality, 2);
        EXPECT_FALSE(Settings.OggOptions.IsUseCompress);
        EXPECT_EQ(Settings.OggOptions.CompressPosition, 100);
        EXPECT_EQ(Settings.OggOptions.MinBitRate, 14);
        EXPECT_EQ(Settings.WMAOptions.BitRate, 0);
        EXPECT_TRUE(Settings.ID3.Use);
        EXPECT_EQ(DiscInfo.Artist, "An artist whose name is longer");
        EXPECT_EQ(DiscInfo.Year, "2024");
        EXPECT_EQ(DiscInfo.Genre, 1);
        const TSecureRip& r = Settings.SecureRip;
        EXPECT_TRUE(r.Enabled);
        EXPECT_EQ(r.ReadOffset, -48);
        EXPECT_TRUE(r.TestAndCopy);
        EXPECT_FALSE(r.AccurateRip);
        EXPECT_EQ(r.AccurateRipServer, "http://127.0.0.1:8080");
        EXPECT_FALSE(r.CTDB);
        EXPECT_EQ(r.CTDBServer, "http://127.0.0.1:8081");
        EXPECT_TRUE(r.FastFirst);
    }
}

TEST_F(OptionsDialog, DependentControlsFollowTheirBoxes) {
    auto& f = Open();
    struct Rule {
        QAbstractButton* box;
        std::vector<QWidget*> dependents;
    };
    const Rule rules[] = {
        {f.ckNormalize, {f.SpinEdit1}},
        {f.cbRipTime, {f.eRipTime}},
        {f.ckbSelectVBR, {f.ckbVBRHead, f.cbMaxBitRate, f.cbVBRQuality}},
        {f.TabSheet7->ckSecureRip,
         {f.TabSheet7->seReadOffset, f.TabSheet7->ckTestAndCopy, f.TabSheet7->ckAccurateRip,
          f.TabSheet7->eAccurateRipServer, f.TabSheet7->ckCTDB, f.TabSheet7->eCTDBServer,
          f.TabSheet7->ckFastFirst}}};
    for (const Rule& r : rules) {
        SCOPED_TRACE(r.box->objectName().toStdString());
        for (int click = 0; click < 2; ++click) {
            for (QWidget* w : r.dependents) {
                EXPECT_EQ(w->isEnabled(), r.box->isChecked()) << w->objectName().toStdString();
            }
            Click(r.box);
        }
    }
    Click(f.TabSheet7->ckSecureRip);
    Click(f.TabSheet7->ckAccurateRip);
    EXPECT_FALSE(f.TabSheet7->eAccurateRipServer->isEnabled()) << "no server without AccurateRip";
    EXPECT_TRUE(f.TabSheet7->eCTDBServer->isEnabled()) << "CTDB has its own box";
    EXPECT_TRUE(f.TabSheet7->ckFastFirst->isEnabled()) << "CTDB alone can verify";
    Click(f.TabSheet7->ckCTDB);
    EXPECT_FALSE(f.TabSheet7->eCTDBServer->isEnabled()) << "no server without CTDB";
    EXPECT_FALSE(f.TabSheet7->ckFastFirst->isEnabled()) << "nothing to verify against";
    Click(f.TabSheet7->ckAccurateRip);
    EXPECT_TRUE(f.TabSheet7->ckFastFirst->isEnabled());
    for (const settings::TOutputFormatRow& row : settings::OutputFormats()) {
        f.cbOutputFormat->setCurrentIndex(settings::StoredFormat(row.Format));
        EXPECT_EQ(f.ckbKeepWav->isEnabled(), row.Format != settings::TOutputFormat::ofWav)
            << "WAV output has no WAV to delete";
    }
}

TEST_F(OptionsDialog, OkRefusesBadEntriesWithTheirMessageAndStoresNothing) {
    struct Case {
        QString folder; // empty: the existing output folder
        QString ripTime;
        QString bitRate;
        QString message;
    };
    const QString missing = QString::fromStdString(home_.File("missing"));
    const Case cases[] = {
        {missing, "10", "128 kbit/s", missing + ",The output directory does not exist."},
        {"", "abc", "128 kbit/s", "Please check the song length to extract."},
        {"", "-100", "128 kbit/s", "Please check the song length to extract."},
        {"", "", "128 kbit/s", "Please check the song length to extract."},
        {"", "10", "abc kbit/s", "'abc' is not a valid integer value."},
        {"", "10", "", "'' is not a valid integer value."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        dialogs_->boxes.clear();
        const std::string before = Snapshot();
        auto& f = Open();
        if (!c.folder.isEmpty()) {
            Type(f.editOutputDir, c.folder);
        }
        Click(f.cbRipTime); // the length is checked even while its box is cleared again
        Type(f.eRipTime, c.ripTime);
        Click(f.cbRipTime);
        Type(f.cbBitRate, c.bitRate);
        Click(f.ckbSelectVBR); // a change that must not be stored
        Click(f.btOk);
        EXPECT_EQ(dialogs_->BoxTexts(), QStringList{c.message});
        EXPECT_EQ(dialogs_->boxes.front().icon, platform::MbIcon::Error);
        EXPECT_EQ(dialogs_->boxes.front().caption, "Vellorine");
        EXPECT_TRUE(f.isVisible()) << "the dialog stays open";
        EXPECT_EQ(Snapshot(), before);
    }
}

TEST_F(OptionsDialog, DefaultButtonsResetTheirPagesOnly) {
    Settings.Mp3Options = {true, true, 64, 96, 2, 9, 4};
    Settings.WMAOptions.BitRate = 20;
    auto& f = Open();
    Type(f.cbBitRate, "999 kbit/s");
    Click(f.bDefault);
    EXPECT_FALSE(f.ckbSelectVBR->isChecked());
    EXPECT_FALSE(f.ckbVBRHead->isChecked());
    EXPECT_FALSE(f.cbMaxBitRate->isEnabled());
    EXPECT_EQ(f.cbBitRate->currentText(), "128 kbit/s");
    EXPECT_EQ(f.cbMaxBitRate->currentText(), "320 kbit/s");
    EXPECT_EQ(f.cbVBRQuality->currentIndex(), 4);
    EXPECT_EQ(f.cbMpegQuality->currentText(), "Default");
    EXPECT_EQ(f.cbStereoMode->currentText(), "Joint Stereo");
    EXPECT_EQ(f.cbWMABitrate->currentIndex(), 20);
    EXPECT_EQ(Settings.Mp3Options.BitRate, 64) << "only OK stores";
    Click(f.bWMADefault);
    EXPECT_EQ(f.cbWMABitrate->currentText(), "44.100 kHz,  64 kbit/s, Stereo");
    Click(f.btOk);
    EXPECT_EQ(Settings.Mp3Options.BitRate, 128);
    EXPECT_EQ(Settings.Mp3Options.StereoMode, 1);
    EXPECT_EQ(Settings.WMAOptions.BitRate, 8);
}

TEST_F(OptionsDialog, TheCdRomPageListsTheDrivesAndOkReopensOnlyAnotherChoice) {
    cdtest::UseImages({cdtest::MakeImage(images_, "First Disc", {750}),
                       cdtest::MakeImage(images_, "A Very Long Disc Name Here", {750})});
    struct Case {
        int storedIndex;
        int choose; // -2: leave the page as shown; -3: never show the page
        int storedAfter;
        std::vector<int> reopened;
    };
    const Case cases[] = {
        {-1, -3, -1, {}}, {-1, -2, 0, {}}, {1, -2, 1, {}}, {0, 1, 1, {1}}, {5, -2, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.storedIndex << " " << c.choose);
        Settings.CDOptions.Index = c.storedIndex;
        reopened_.clear();
        auto& f = Open();
        if (c.choose != -3) {
            f.PageControl1->setCurrentWidget(f.TabSheet5);
            f.PageControl1->setCurrentWidget(f.TabSheet3); // shown twice: listed once
            EXPECT_EQ(f.cbCDList->count(), 2);
            EXPECT_EQ(f.cbCDList->itemText(0), "IMAGEFirst Disc");
            EXPECT_EQ(f.cbCDList->itemText(1), "IMAGEA Very Long Disc");
        }
        if (c.choose >= 0) {
            f.cbCDList->setCurrentIndex(c.choose);
        }
        Click(f.btOk);
        EXPECT_EQ(Settings.CDOptions.Index, c.storedAfter);
        EXPECT_EQ(reopened_, c.reopened);
    }
}

TEST_F(OptionsDialog, BrowsingFillsTheFolderOnlyWhenOneIsChosen) {
    auto& f = Open();
    const QString before = f.editOutputDir->text();
    Click(f.btBrowser);
    EXPECT_EQ(f.editOutputDir->text(), before);
    dialogs_->folderAnswers.push_back(QString::fromStdString(images_.Path()));
    Click(f.btBrowser);
    EXPECT_EQ(f.editOutputDir->text().toStdString(), images_.Path());
}

} // namespace
