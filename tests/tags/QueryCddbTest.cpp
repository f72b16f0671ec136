// The CDDB windows driven through their controls, looking a generated disc image up in
// the loopback CDDB server.
#include "tags/QueryCddb.h"
#include "tags/QueryCddbThread.h"
#include "tags/StopQuery.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "cd/CddbServer.h"
#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "platform/ScriptedDialogs.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

namespace {

using namespace std::chrono_literals;
using tags::TfrmQueryCDDB;
using tags::TfrmStopQuery;
using testsupport::Child;

const std::vector<int> kFrames = {900, 600, 750};
const std::string kFullRecord = "DTITLE=The Band / First Light\nDYEAR=1999\n"
                                "TTITLE0=Opening\nTTITLE1=Middle\nTTITLE2=Closing\n";

// Clicks a check box on its box (its middle may lie beyond the box and its text).
void Toggle(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// Clicks a window's button as soon as the condition holds (checked every 10 ms).
void ClickWhen(QWidget* window, const char* button, std::function<bool()> condition) {
    auto* timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, window, [=] {
        if (condition()) {
            timer->stop();
            QTest::mouseClick(Child<QPushButton>(window, button), Qt::LeftButton);
        }
    });
    timer->start(10);
}

class CddbWindows : public ::testing::Test {
protected:
    void SetUp() override {
        settings::Settings = settings::TSettings{};
        settings::DiscInfo = settings::TDiscInfo{};
        cdtest::UseImages({cdtest::MakeImage(images_, "disc", kFrames)});
        handle_ = cdtest::OpenFirstDrive();
        ASSERT_GT(handle_, 0);
        id_ = cdtest::HexId(cdtest::PublishedDiscId(kFrames));
        rows_ = std::make_unique<QTreeWidget>();
        rows_->setColumnCount(4);
        for (int t = 1; t <= 3; ++t) {
            auto* item = new QTreeWidgetItem(rows_.get());
            item->setText(0, QString::number(t));
            item->setText(1, QString("Track0%1").arg(t));
        }
        // The stop window runs its own modal loop unless a test says otherwise.
        dialogs_->onModal = [this](QWidget* w) {
            stop_ = qobject_cast<TfrmStopQuery*>(w);
            return stop_ != nullptr ? stop_->exec() : 0;
        };
    }
    void TearDown() override {
        EXPECT_TRUE(tags::TQueryCDDBThread::WaitForAll(5s));
        cd::CloseCDHandle(handle_);
    }

    std::unique_ptr<TfrmQueryCDDB> Open() {
        auto form = std::make_unique<TfrmQueryCDDB>(nullptr, 1, 3, handle_, rows_.get());
        form->show();
        return form;
    }
    void TypeServer(TfrmQueryCDDB& form, const std::string& address) {
        auto* box = Child<QComboBox>(&form, "cbServer");
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QString::fromStdString(address));
    }
    QStringList Titles() const {
        QStringList out;
        for (int i = 0; i < rows_->topLevelItemCount(); ++i) {
            out << rows_->topLevelItem(i)->text(1);
        }
        return out;
    }

    cdtest::ScratchFolder images_;
    cdtest::ScratchFolder records_;
    const testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* const dialogs_ = scripted_.get();
    int handle_ = 0;
    std::string id_;
    std::unique_ptr<QTreeWidget> rows_;
    TfrmStopQuery* stop_ = nullptr;
};

TEST_F(CddbWindows, TheWindowShowsTheSettingsAndItsButtonsSetTheControls) {
    auto& q = settings::Settings.QueryCDDB;
    q.Server = "www.gnudb.org";
    q.Script = "/cgi/x.cgi";
    q.UseProxy = true;
    q.ProxyAddress = "proxy.lan";
    q.Port = "3128";
    auto form = Open();
    auto* server = Child<QComboBox>(form.get(), "cbServer");
    auto* proxy = Child<QCheckBox>(form.get(), "cbProxy");
    auto* address = Child<QLineEdit>(form.get(), "eAddress");
    EXPECT_EQ(server->currentText(), "www.gnudb.org");
    EXPECT_EQ(server->count(), 3);
    EXPECT_EQ(Child<QLineEdit>(form.get(), "eScript")->text(), "/cgi/x.cgi");
    EXPECT_TRUE(address->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(form.get(), "ePort")->text(), "3128");

    Toggle(proxy);
    EXPECT_FALSE(address->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(form.get(), "ePort")->isEnabled());
    Toggle(proxy);
    EXPECT_TRUE(address->isEnabled());

    QTest::mouseClick(Child<QPushButton>(form.get(), "bDefault"), Qt::LeftButton);
    EXPECT_EQ(server->currentIndex(), 0);
    EXPECT_EQ(Child<QLineEdit>(form.get(), "eScript")->text(), "/~cddb/cddb.cgi");
    EXPECT_FALSE(proxy->isChecked());
    EXPECT_FALSE(address->isEnabled());
    EXPECT_EQ(address->text(), "proxy.lan") << "texts stay";
    EXPECT_EQ(q.Server, "www.gnudb.org") << "nothing is stored before Query";

    QTest::mouseClick(Child<QPushButton>(form.get(), "bClose"), Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
}

TEST_F(CddbWindows, AStoredServerOutsideTheListShowsTheFirstEntryWhichQueryStores) {
    settings::Settings.QueryCDDB.Server = "GNUDB.gnudb.org";
    auto form = Open();
    EXPECT_EQ(Child<QComboBox>(form.get(), "cbServer")->currentIndex(), 0);
    dialogs_->onModal = [](QWidget*) { return tags::ModalCancel; }; // no lookup
    QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
    EXPECT_EQ(settings::Settings.QueryCDDB.Server, "gnudb.gnudb.org");
    EXPECT_TRUE(form->isVisible()) << "a cancelled lookup keeps the window open";
}

TEST_F(CddbWindows, AFinishedLookupFillsDiscInfoAndTheTitlesAndClosesBothWindows) {
    // The first match has no titles: its disc values count until a later record has its
    // own; the titles come from the first record that has them.
    cdtest::WriteRecord(records_, "misc", id_,
                        cdtest::XmcdRecord(kFrames, "DTITLE=Old / Name\nDGENRE=Blues\n"));
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, kFullRecord));
    cdtest::CddbServer server(records_.Path());
    auto form = Open();
    TypeServer(*form, server.Address());
    QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);

    ASSERT_NE(stop_, nullptr);
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(settings::Settings.QueryCDDB.Server, server.Address());
    const auto& disc = settings::DiscInfo;
    EXPECT_EQ(disc.Artist, "The Band");
    EXPECT_EQ(disc.Album, "First Light");
    EXPECT_EQ(disc.Year, "1999");
    EXPECT_EQ(disc.Genre, 1 + settings::GenreIndexOf("Blues"));
    EXPECT_EQ(Titles(), QStringList({"Opening", "Middle", "Closing"}));
    EXPECT_EQ(rows_->headerItem()->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
}

TEST_F(CddbWindows, NoMatchOrNoServerShowsTheHintAndCloseReturnsToTheSettings) {
    cdtest::CddbServer empty(records_.Path());
    for (const std::string& address :
         {empty.Address(), "127.0.0.1:" + std::to_string(cdtest::UnusedPort())}) {
        auto form = Open();
        TypeServer(*form, address);
        bool hintSeen = false;
        dialogs_->onModal = [&](QWidget* w) {
            auto* stop = qobject_cast<TfrmStopQuery*>(w);
            ClickWhen(stop, "bStop", [&, stop] {
                hintSeen = stop->NoMatchShown() &&
                           Child<QPushButton>(stop, "bStop")->text() == "Close" &&
                           Child<QLabel>(stop, "lHint")->isHidden();
                return hintSeen;
            });
            return stop->exec();
        };
        QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
        EXPECT_TRUE(hintSeen) << address;
        EXPECT_TRUE(form->isVisible()) << address;
        EXPECT_EQ(settings::DiscInfo.Artist, "") << address;
        EXPECT_EQ(Titles(), QStringList({"Track01", "Track02", "Track03"}));
    }
}

TEST_F(CddbWindows, StopDuringASlowServerReturnsAtOnceAndDropsWhatArrivesLater) {
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, kFullRecord));
    cdtest::CddbServer slow(records_.Path(), {"--delay", "1.5"});
    for (const bool viaEscape : {false, true}) {
        auto form = Open();
        TypeServer(*form, slow.Address());
        int result = -1;
        dialogs_->onModal = [&](QWidget* w) {
            auto* stop = qobject_cast<TfrmStopQuery*>(w);
            QTimer::singleShot(150ms, stop, [stop, viaEscape] {
                if (viaEscape) {
                    QTest::keyClick(stop, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(Child<QPushButton>(stop, "bStop"), Qt::LeftButton);
                }
            });
            result = stop->exec();
            return result;
        };
        QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
        EXPECT_EQ(result, tags::ModalCancel);
        EXPECT_TRUE(form->isVisible());
        // The thread ends by itself; nothing it could still learn reaches the windows.
        EXPECT_TRUE(tags::TQueryCDDBThread::WaitForAll(5s));
        QCoreApplication::processEvents();
        EXPECT_EQ(settings::DiscInfo.Artist, "");
        EXPECT_EQ(Titles(), QStringList({"Track01", "Track02", "Track03"}));
    }
}

TEST_F(CddbWindows, TheProxyOfTheWindowCarriesTheLookup) {
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, kFullRecord));
    cdtest::CddbServer server(records_.Path());
    cdtest::CddbServer proxy(records_.Path(), {"--proxy"});
    auto form = Open();
    TypeServer(*form, server.Address());
    Toggle(Child<QCheckBox>(form.get(), "cbProxy"));
    QTest::keyClicks(Child<QLineEdit>(form.get(), "eAddress"), "127.0.0.1");
    auto* port = Child<QLineEdit>(form.get(), "ePort");
    port->clear();
    QTest::keyClicks(port, QString::number(proxy.Port()));
    QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
    EXPECT_EQ(Titles(), QStringList({"Opening", "Middle", "Closing"}));
    EXPECT_EQ(proxy.Requests().size(), 2u);
    EXPECT_TRUE(settings::Settings.QueryCDDB.UseProxy);
}

TEST(CddbLookupThread, TheProxyPortIsANumberOr80AndTheHelloNamesUserAndHost) {
    const std::vector<std::pair<std::string, int>> ports = {
        {"8080", 8080}, {" 3128 ", 3128}, {"abc", 80}, {"", 80},
        {"70000", 80},  {"0", 80},        {"-1", 80},  {"80a", 80},
    };
    for (const auto& [text, port] : ports) {
        EXPECT_EQ(tags::TQueryCDDBThread::ProxyPort(text), port) << text;
    }
    const std::string email = tags::TQueryCDDBThread::UserEmail();
    const auto at = email.find('@');
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 0u);
    EXPECT_LT(at + 1, email.size());
}

TEST(CddbLookupThread, TheHelloGivesTheUsersOwnAddressOnceItIsSet) {
    const std::string fallback = tags::TQueryCDDBThread::UserEmail();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", fallback},
        {"me@example.org", "me@example.org"},
        {"two words@example.org", fallback}, // the hello is split at blanks
        {"tab\t@x", fallback},
    };
    for (const auto& [set, hello] : cases) {
        EXPECT_EQ(tags::TQueryCDDBThread::HelloEmail(set), hello) << set;
    }
}

TEST_F(CddbWindows, TheEmailFieldIsStoredOnQueryAndTheHelloCarriesIt) {
    settings::Settings.Metadata.CddbEmail = "old@example.org";
    cdtest::WriteRecord(records_, "rock", id_, cdtest::XmcdRecord(kFrames, kFullRecord));
    cdtest::CddbServer server(records_.Path());
    auto form = Open();
    auto* email = Child<QLineEdit>(form.get(), "eEmail");
    EXPECT_EQ(email->text(), "old@example.org");
    QTest::mouseClick(Child<QPushButton>(form.get(), "bDefault"), Qt::LeftButton);
    EXPECT_EQ(email->text(), "old@example.org") << "Default keeps the user's address";
    email->clear();
    QTest::keyClicks(email, " me@example.org ");
    TypeServer(*form, server.Address());
    QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
    EXPECT_EQ(settings::Settings.Metadata.CddbEmail, "me@example.org");
    EXPECT_EQ(Titles(), QStringList({"Opening", "Middle", "Closing"}));
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    for (const std::string& r : requests) {
        EXPECT_NE(r.find("hello=me+example.org+"), std::string::npos) << r;
        EXPECT_NE(r.find("proto=6"), std::string::npos) << r;
    }
}

TEST_F(CddbWindows, AnUnreachableServerIsNamedSoAndAnEmptyOneSaysNoMatch) {
    cdtest::CddbServer empty(records_.Path());
    const std::vector<std::pair<std::string, QString>> cases = {
        {empty.Address(), "No match found"},
        {"127.0.0.1:" + std::to_string(cdtest::UnusedPort()), "could not be reached"},
    };
    for (const auto& [address, words] : cases) {
        auto form = Open();
        TypeServer(*form, address);
        QString said;
        dialogs_->onModal = [&](QWidget* w) {
            auto* stop = qobject_cast<TfrmStopQuery*>(w);
            ClickWhen(stop, "bStop", [&, stop] {
                said = Child<QLabel>(stop, "Panel1")->text();
                return stop->NoMatchShown();
            });
            return stop->exec();
        };
        QTest::mouseClick(Child<QPushButton>(form.get(), "bQuery"), Qt::LeftButton);
        EXPECT_TRUE(said.contains(words)) << address << ": " << said.toStdString();
    }
}

} // namespace
