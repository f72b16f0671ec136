// The Verify Files window driven through its controls, offscreen: the files are slices
// of a generated image, the databases the loopback server with the Python helpers' files.
#include "cd/VerifyFilesForm.h"

#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

#include "bytes/WavHeader.h"

namespace {

using cdtest::ScratchFolder;
using testsupport::Child;
using testsupport::PumpUntil;
using testsupport::Quoted;
using testsupport::RunCommand;

const std::vector<int> Layout = {40, 12, 30};

class VerifyWindow : public ::testing::Test {
protected:
    void SetUp() override {
        cue = cdtest::MakeImage(images, "disc", Layout);
        const auto image = cdtest::ReadAll(images.File("disc.bin"));
        std::size_t at = 0;
        for (std::size_t t = 0; t < Layout.size(); ++t) {
            const std::size_t size = static_cast<std::size_t>(Layout[t]) * 2352;
            const auto header =
                bytes::PcmWavHeader(bytes::WaveFormatRecord::Pcm(2, 44100, 16), size);
            testsupport::Bytes wav(header.size() + size);
            std::memcpy(wav.data(), header.data(), header.size());
            std::memcpy(wav.data() + header.size(), image.data() + at, size);
            files.Write(std::to_string(t + 1) + " - song.wav", wav);
            at += size;
        }
        std::string command = "python3 " + Quoted(VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py") +
                              " database " + Quoted(images.File("disc.bin")) + " " +
                              Quoted(served.File("ar.bin")) + " match";
        for (int f : Layout) {
            command += " " + std::to_string(f);
        }
        const auto made = RunCommand(command);
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        std::filesystem::rename(served.File("ar.bin"),
                                served.File(made.Output.substr(0, made.Output.find('\n'))));
        const auto reply = RunCommand(
            "python3 " + Quoted(VELLORINE_SOURCE_DIR "/tests/cd/ctdb.py") + " reply " +
            Quoted(images.File("disc.bin")) + " " + Quoted(served.File("lookup2.php")) + " match");
        ASSERT_EQ(reply.ExitCode, 0) << reply.Output;
        settings::Settings.SecureRip = settings::TSecureRip{};
    }

    void UseServer(const cdtest::CddbServer& server) {
        settings::Settings.SecureRip.AccurateRipServer = "http://" + server.Address();
        settings::Settings.SecureRip.CTDBServer = "http://" + server.Address();
    }

    static QString Cell(QTableWidget* table, int row, int column) {
        const QTableWidgetItem* item = table->item(row, column);
        return item ? item->text() : QString();
    }

    testsupport::ScopedDialogs dialogs;
    ScratchFolder images;
    ScratchFolder files;
    ScratchFolder served;
    ScratchFolder records;
    std::string cue;
};

TEST_F(VerifyWindow, TheButtonsRunTheCheckAndTheTableShowsEachTracksResult) {
    cdtest::CddbServer server(records.Path(), {"--files", served.Path()});
    UseServer(server);
    cd::VerifyFilesForm form(nullptr, 0, "/nonexistent");
    form.show();
    auto* verify = Child<QPushButton>(&form, "VerifyButton");
    auto* stop = Child<QPushButton>(&form, "StopButton");
    auto* table = Child<QTableWidget>(&form, "ResultTable");
    auto* status = Child<QLabel>(&form, "StatusLabel");
    EXPECT_EQ(Child<QComboBox>(&form, "SourceBox")->currentIndex(), cd::VerifyFilesForm::FromFile)
        << "no drive: the layout comes from a file";
    EXPECT_FALSE(stop->isEnabled());

    // A folder that is none is refused before anything runs.
    QTest::mouseClick(verify, Qt::LeftButton);
    EXPECT_FALSE(form.Running());
    EXPECT_TRUE(status->text().contains("is not a folder")) << status->text().toStdString();

    // Both names come through the browse buttons.
    dialogs.get()->folderAnswers.push_back(QString::fromStdString(files.Path()));
    dialogs.get()->openAnswers.push_back({QString::fromStdString(cue)});
    QTest::mouseClick(Child<QPushButton>(&form, "FolderBrowse"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(&form, "TocBrowse"), Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(&form, "FolderEdit")->text().toStdString(), files.Path());
    EXPECT_EQ(Child<QLineEdit>(&form, "TocEdit")->text().toStdString(), cue);

    QTest::mouseClick(verify, Qt::LeftButton);
    EXPECT_TRUE(form.Running());
    EXPECT_FALSE(verify->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return form.Report().has_value(); }));
    EXPECT_TRUE(verify->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    ASSERT_EQ(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(table, row, 0), QString::number(row + 1));
        EXPECT_EQ(Cell(table, row, 1), QString::number(row + 1) + " - song.wav");
        EXPECT_EQ(Cell(table, row, 2), "verified (confidence 8)");
    }
    EXPECT_EQ(Child<QLabel>(&form, "CtdbLabel")->text(),
              "CTDB (whole disc): accurately ripped (confidence 7 of 10)");
    EXPECT_EQ(Child<QProgressBar>(&form, "Progress")->value(), 100);

    // A file gone: its row says so, and the disc cannot be checked whole.
    std::filesystem::remove(files.File("2 - song.wav"));
    QTest::mouseClick(verify, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return !form.Running(); }));
    EXPECT_EQ(Cell(table, 1, 2), "missing file");
    EXPECT_EQ(Cell(table, 1, 1), "");
    EXPECT_TRUE(Child<QLabel>(&form, "CtdbLabel")->text().contains("not verified (it needs every"));

    QTest::mouseClick(Child<QPushButton>(&form, "CloseButton"), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST_F(VerifyWindow, StopEndsACheckThatWaitsForTheDatabases) {
    cdtest::CddbServer server(records.Path(), {"--files", served.Path(), "--delay", "20"});
    UseServer(server);
    cd::VerifyFilesForm form(nullptr, 0, QString::fromStdString(files.Path()));
    form.show();
    Child<QLineEdit>(&form, "TocEdit")->setText(QString::fromStdString(cue));
    QTest::mouseClick(Child<QPushButton>(&form, "VerifyButton"), Qt::LeftButton);
    ASSERT_TRUE(form.Running());
    auto* stop = Child<QPushButton>(&form, "StopButton");
    EXPECT_TRUE(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return form.Report().has_value(); }, std::chrono::seconds(10)));
    EXPECT_EQ(Child<QLabel>(&form, "StatusLabel")->text(), "Stopped.");
    auto* table = Child<QTableWidget>(&form, "ResultTable");
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_TRUE(Cell(table, 0, 2).startsWith("not verified")) << Cell(table, 0, 2).toStdString();

    // Closing while a check runs stops it rather than waiting for the server.
    QTest::mouseClick(Child<QPushButton>(&form, "VerifyButton"), Qt::LeftButton);
    ASSERT_TRUE(form.Running());
    const auto started = std::chrono::steady_clock::now();
    QTest::mouseClick(Child<QPushButton>(&form, "CloseButton"), Qt::LeftButton);
    EXPECT_FALSE(form.Running());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(VerifyWindow, ALayoutThatCannotBeReadIsNamedAndNothingRuns) {
    const std::string notLog = files.WriteText("notes.log", "just some text\n");
    struct Case {
        int source;
        std::string toc;
        const char* says;
    };
    const std::vector<Case> cases = {
        {cd::VerifyFilesForm::FromDrive, "", "The disc in the drive cannot be read."},
        {cd::VerifyFilesForm::FromFile, "", "Choose a cue sheet or a rip log."},
        {cd::VerifyFilesForm::FromFile, notLog, "is not a rip log or cue sheet"},
        {cd::VerifyFilesForm::FromFile, files.File("gone.cue"), "The cue sheet cannot be used"},
    };
    for (const Case& c : cases) {
        cd::VerifyFilesForm form(nullptr, 0, QString::fromStdString(files.Path()));
        Child<QComboBox>(&form, "SourceBox")->setCurrentIndex(c.source);
        EXPECT_EQ(Child<QLineEdit>(&form, "TocEdit")->isEnabled(),
                  c.source == cd::VerifyFilesForm::FromFile);
        Child<QLineEdit>(&form, "TocEdit")->setText(QString::fromStdString(c.toc));
        QTest::mouseClick(Child<QPushButton>(&form, "VerifyButton"), Qt::LeftButton);
        EXPECT_FALSE(form.Running()) << c.says;
        const QString text = Child<QLabel>(&form, "StatusLabel")->text();
        EXPECT_TRUE(text.contains(c.says)) << text.toStdString();
    }
}

} // namespace
