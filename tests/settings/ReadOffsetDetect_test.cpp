// The Secure rip page's Detect button driven through its controls: a disc image read with a
// known shift, a loopback AccurateRip server holding the pressing's checksums, scripted
// answers to the question, and Cancel while the server says nothing.
#include "settings/SecureRipPage.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "cd/DiscImages.h"
#include "cd/ReadOffsetFinder.h"
#include "settings/Global.h"
#include "support/LoopbackServer.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"

using namespace settings;
using namespace std::chrono_literals;
using platform::MbIcon;
using platform::MbResult;
using testsupport::Child;
using testsupport::Quoted;
using testsupport::RunCommand;

namespace {

const std::string Helper = VELLORINE_SOURCE_DIR "/tests/cd/accuraterip.py";

// The Python loopback database server, serving one folder.
class DatabaseServer {
public:
    explicit DatabaseServer(const std::string& folder)
        : server_("python3 " + platform::QuoteArgument(Helper) + " serve " +
                      platform::QuoteArgument(folder) + " - 4",
                  "AccurateRip") {}
    int Port() const { return server_.Port(); }
    std::string Url() const { return server_.Url(); }

private:
    testsupport::LoopbackServer server_;
};

// A server that takes connections into its backlog and never answers them.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 4);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

class DetectReadOffset : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings{};
        previous_ = TSecureRipPage::InstallFinder(AdaptFinder(&cd::FindReadOffset));
        cue_ = cdtest::MakeImage(images_, "disc", {40, 12, 30});
        cdtest::UseImages({cue_});
        dialogs_.get()->onModal = [this](QWidget* w) {
            search_ = qobject_cast<QDialog*>(w);
            return search_ != nullptr ? search_->exec() : 0;
        };
    }
    void TearDown() override {
        TSecureRipPage::InstallFinder(previous_);
        cdtest::UseImages({});
    }

    // The served folder's database file for the image, as the helper makes it ("" = none).
    void Serve(const testsupport::ScratchFolder& folder, const std::string& served) {
        if (served.empty()) {
            return;
        }
        const std::string bin = images_.File("disc.bin");
        const auto made =
            RunCommand("python3 " + Quoted(Helper) + " database " + Quoted(bin) + " " +
                       Quoted(folder.File("answer")) + " " + served + " 40 12 30");
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        std::filesystem::rename(folder.File("answer"),
                                folder.File(made.Output.substr(0, made.Output.find('\n'))));
    }

    std::unique_ptr<TSecureRipPage> Open(const std::string& server, int offset = 12) {
        TSecureRip options;
        options.Enabled = true;
        options.ReadOffset = offset;
        options.AccurateRipServer = server;
        auto page = std::make_unique<TSecureRipPage>();
        page->Load(options);
        page->show();
        return page;
    }
    static void Detect(TSecureRipPage& page) {
        QTest::mouseClick(Child<QPushButton>(&page, "bDetectOffset"), Qt::LeftButton);
    }
    QStringList Boxes() const { return dialogs_.get()->BoxTexts(); }

    testsupport::ScopedDialogs dialogs_;
    testsupport::ScratchFolder images_;
    std::string cue_;
    QDialog* search_ = nullptr;
    ReadOffsetFinder previous_;
};

TEST_F(DetectReadOffset, TheFoundOffsetIsOfferedAndTakenOnlyOnYes) {
    struct Case {
        const char* served;
        MbResult answer;
        QString question;
        int kept; // the offset box afterwards
    };
    const Case cases[] = {
        {"shifted:667", MbResult::Yes, "Read offset +667 found (confidence 5, track 2). Use it?",
         667},
        {"shifted:-48", MbResult::Yes, "Read offset -48 found (confidence 5, track 2). Use it?",
         -48},
        {"shifted:2900", MbResult::No, "Read offset +2900 found (confidence 5, track 2). Use it?",
         12},
        {"match", MbResult::Yes, "Read offset 0 found (confidence 5, track 2). Use it?", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.served);
        testsupport::ScratchFolder served;
        Serve(served, c.served);
        DatabaseServer server(served.Path());
        auto page = Open(server.Url());
        dialogs_.get()->boxes.clear();
        dialogs_.get()->answers = {c.answer};
        Detect(*page);
        ASSERT_EQ(Boxes(), QStringList{c.question});
        EXPECT_EQ(dialogs_.get()->boxes[0].icon, MbIcon::Question);
        EXPECT_EQ(page->seReadOffset->value(), c.kept);
        TSecureRip stored;
        page->Store(stored);
        EXPECT_EQ(stored.ReadOffset, c.kept) << "OK stores what the box holds";
    }
}

TEST_F(DetectReadOffset, AnOffsetNotFoundSaysWhyAndLeavesTheBoxAlone) {
    struct Case {
        const char* name;
        const char* served;
        bool useServer; // else a port nothing listens on
        bool drive;
        MbIcon icon;
        QString says;
    };
    const Case cases[] = {
        {"unknown disc", "", true, true, MbIcon::Information,
         "not in the AccurateRip database.\nInsert a better-known disc"},
        {"no offset matches", "mismatch", true, true, MbIcon::Information,
         "no read offset within \u00b12940 samples matches it"},
        {"beyond the search", "shifted:3000", true, true, MbIcon::Information,
         "Try a better-known disc"},
        {"dead server", "", false, true, MbIcon::Error,
         "The read offset could not be found: no answer from the database"},
        {"no drive", "match", true, false, MbIcon::Error,
         "The read offset could not be found: no CD drive was found."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchFolder served;
        Serve(served, c.served);
        DatabaseServer server(served.Path());
        cdtest::UseImages(c.drive ? std::vector<std::string>{cue_} : std::vector<std::string>{});
        auto page = Open(c.useServer ? server.Url() : "http://127.0.0.1:1", -30);
        dialogs_.get()->boxes.clear();
        Detect(*page);
        ASSERT_EQ(Boxes().size(), 1);
        EXPECT_TRUE(Boxes()[0].contains(c.says)) << Boxes()[0].toStdString();
        EXPECT_EQ(dialogs_.get()->boxes[0].icon, c.icon);
        EXPECT_EQ(page->seReadOffset->value(), -30);
    }
}

TEST_F(DetectReadOffset, TheLookupGoesThroughTheUsersProxy) {
    testsupport::ScratchFolder served;
    Serve(served, "shifted:667");
    DatabaseServer proxy(served.Path());
    // The database's own host does not exist: only the proxy can answer.
    auto page = Open("http://accuraterip.invalid");
    Settings.QueryCDDB.UseProxy = true;
    Settings.QueryCDDB.ProxyAddress = "127.0.0.1";
    Settings.QueryCDDB.Port = std::to_string(proxy.Port());
    dialogs_.get()->answers = {MbResult::Yes};
    Detect(*page);
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].startsWith("Read offset +667 found")) << Boxes()[0].toStdString();
    EXPECT_EQ(page->seReadOffset->value(), 667);
}

TEST_F(DetectReadOffset, CancelEndsTheSearchAtOnceWithoutAQuestion) {
    SilentServer silent; // the lookup would wait the full time limit
    for (const bool viaEscape : {false, true}) {
        SCOPED_TRACE(viaEscape ? "Escape" : "Cancel");
        auto page = Open(silent.Url(), 5);
        dialogs_.get()->boxes.clear();
        search_ = nullptr;
        std::chrono::steady_clock::time_point pressed;
        dialogs_.get()->onModal = [&](QWidget* w) {
            search_ = qobject_cast<QDialog*>(w);
            QTimer::singleShot(150ms, search_, [&] {
                pressed = std::chrono::steady_clock::now();
                if (viaEscape) {
                    QTest::keyClick(search_, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(Child<QPushButton>(search_, "bCancel"), Qt::LeftButton);
                }
            });
            return search_->exec();
        };
        Detect(*page); // returns once the worker has ended
        const auto took = std::chrono::steady_clock::now() - pressed;
        ASSERT_NE(search_, nullptr);
        EXPECT_LT(took, 5s) << "the search was not told to stop";
        std::cout << "cancel took "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
        EXPECT_TRUE(Boxes().isEmpty());
        EXPECT_EQ(page->seReadOffset->value(), 5);
    }
}

TEST_F(DetectReadOffset, DetectFollowsSecureExtractionAndNeedsAFinder) {
    auto page = Open("http://127.0.0.1:1");
    auto* detect = Child<QPushButton>(page.get(), "bDetectOffset");
    EXPECT_TRUE(detect->isEnabled());
    page->ckSecureRip->setChecked(false);
    EXPECT_FALSE(detect->isEnabled());
    page->ckSecureRip->setChecked(true);
    EXPECT_TRUE(detect->isEnabled());
    TSecureRipPage::InstallFinder(nullptr);
    auto bare = Open("http://127.0.0.1:1");
    EXPECT_FALSE(Child<QPushButton>(bare.get(), "bDetectOffset")->isEnabled());
}

} // namespace
