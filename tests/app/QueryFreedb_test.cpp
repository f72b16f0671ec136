// Query Freedb from the main window: a lookup in the loopback CDDB server fills the track
// list and DiscInfo, which reach cdinfo.dat when the program closes.
#include "app/MainForm.h"
#include "app/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "platform/IniFile.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "tags/QueryCddb.h"
#include "tags/QueryCddbThread.h"
#include "tags/StopQuery.h"

namespace {

const std::vector<int> kFrames = {1500, 900, 1200};

class QueryFreedb : public apptest::MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        cdtest::UseImages({cdtest::MakeImage(images_, "disc", kFrames)});
    }
    void TearDown() override {
        EXPECT_TRUE(tags::TQueryCDDBThread::WaitForAll(std::chrono::seconds(5)));
        MainWindow::TearDown();
    }

    cdtest::ScratchFolder records_;
};

TEST_F(QueryFreedb, ALookupFillsTheListAndDiscInfoAndBothReachCdinfoAtClose) {
    const std::string id = cdtest::HexId(cdtest::PublishedDiscId(kFrames));
    cdtest::WriteRecord(records_, "blues", id,
                        cdtest::XmcdRecord(kFrames, "DTITLE=Muddy Road / Delta Nights\n"
                                                    "DYEAR=1961\nDGENRE=Blues\n"
                                                    "TTITLE0=Rollin'\nTTITLE1=Stone\n"
                                                    "TTITLE2=Caf\xc3\xa9 Blues\n"));
    cdtest::CddbServer server(records_.Path());
    auto& form = Start();
    QAction* query = form.Action("aQueryCDDB");
    ASSERT_TRUE(query->isEnabled());

    dialogs_->onModal = [&](QWidget* w) {
        if (auto* stop = qobject_cast<tags::TfrmStopQuery*>(w)) {
            return stop->exec();
        }
        auto* window = qobject_cast<tags::TfrmQueryCDDB*>(w);
        EXPECT_NE(window, nullptr);
        window->show();
        auto* box = window->findChild<QComboBox*>("cbServer");
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromStdString(server.Address()));
        QTest::mouseClick(window->findChild<QPushButton*>("bQuery"), Qt::LeftButton);
        return window->result();
    };
    query->trigger();
    ASSERT_EQ(dialogs_->modalDialogs.size(), 2);

    QStringList titles;
    for (int i = 0; i < form.ListView()->topLevelItemCount(); ++i) {
        titles << form.ListView()->topLevelItem(i)->text(1);
    }
    EXPECT_EQ(titles, QStringList({"Rollin'", "Stone", QString::fromUtf8("Caf\xc3\xa9 Blues")}));

    const std::string key = settings::DiscKey();
    form.close();
    platform::IniFile info(home_.File("cdinfo.dat"));
    EXPECT_EQ(info.ReadString(key, "Artist", ""), "Muddy Road");
    EXPECT_EQ(info.ReadString(key, "Album", ""), "Delta Nights");
    EXPECT_EQ(info.ReadString(key, "Year", ""), "1961");
    EXPECT_EQ(info.ReadInteger(key, "Genre", -1), 1 + settings::GenreIndexOf("Blues"));
    EXPECT_EQ(info.ReadString(key, "3", ""), "Caf\xc3\xa9 Blues");
    platform::IniFile options(home_.File("options.ini"));
    EXPECT_EQ(options.ReadString("QueryCDDB", "Server", ""), server.Address());
}

TEST_F(QueryFreedb, AnUnreadableTableOfContentsIsReportedAndNoWindowOpens) {
    auto& form = Start();
    ASSERT_TRUE(form.Action("aQueryCDDB")->isEnabled());
    cd::CloseCDHandle(form.CDHandle()); // the drive went away under the window
    form.Action("aQueryCDDB")->trigger();
    EXPECT_TRUE(dialogs_->modalDialogs.isEmpty());
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text, "Error while reading TOC information!");
    EXPECT_EQ(dialogs_->boxes[0].icon, platform::MbIcon::Error);

    // Without rows there is nothing to look up.
    form.ListView()->clear();
    EXPECT_FALSE(form.Action("aQueryCDDB")->isEnabled());
}

} // namespace
