// The main window's commands that open the other windows, run from its menus and keys
// with the modal windows driven through their controls.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <regex>

#include "MainWindowFixture.h"
#include "app/About.h"
#include "app/HelpFile.h"
#include "platform/ProgramFolder.h"
#include "settings/OptionSet.h"
#include "tags/EditTrackName.h"
#include "tags/ID3Edit.h"

namespace fs = std::filesystem;

namespace {

class WindowCommands : public apptest::MainWindow {
protected:
    // The entry of a main-menu menu, found by its caption.
    QAction* Entry(const QString& menu, const QString& caption) const {
        for (QAction* top : form_->menuBar()->actions()) {
            if (top->text() == menu && top->menu() != nullptr) {
                for (QAction* entry : top->menu()->actions()) {
                    if (entry->text() == caption) {
                        return entry;
                    }
                }
            }
        }
        ADD_FAILURE() << "no entry " << caption.toStdString();
        return nullptr;
    }
    // Runs the next modal window through `act`, which returns its result.
    template <typename Window> void OnModal(std::function<int(Window&)> act) {
        dialogs_->onModal = [act](QWidget* w) {
            auto* window = qobject_cast<Window*>(w);
            EXPECT_NE(window, nullptr);
            return window != nullptr ? act(*window) : 0;
        };
    }
    static int Result(QDialog& d) { return d.result(); }

    testsupport::ScopedShell recording_;
    platform::RecordingShell* shell_ = recording_.get();
};

TEST_F(WindowCommands, OptionsSwitchesToTheChosenDeviceAndItsTracks) {
    cdtest::UseImages({ThreeTrackImage(), cdtest::MakeImage(images_, "Second", {750, 750})});
    auto& form = Start();
    settings::Settings.CommonOptions.OutputFolder = images_.Path();
    const int first = form.CDHandle();
    QPoint shownAt;
    OnModal<settings::TOptionSetForm>([&](settings::TOptionSetForm& o) {
        shownAt = o.pos();
        o.PageControl1->setCurrentWidget(o.TabSheet3);
        o.cbCDList->setCurrentIndex(1);
        QTest::mouseClick(o.btOk, Qt::LeftButton);
        return Result(o);
    });
    Entry("&Edit", "&Options...")->trigger();
    ASSERT_EQ(dialogs_->modalDialogs.size(), 1);
    EXPECT_EQ(shownAt, form.pos() + QPoint(50, 50));
    EXPECT_EQ(settings::Settings.CDOptions.Index, 1);
    // Handles take the lowest free slot: the same number again means the first device
    // was released before the second was opened.
    EXPECT_EQ(form.CDHandle(), first) << "the first device was released";
    EXPECT_EQ(form.StatusText(), "IMAGESecond");
    EXPECT_EQ(form.IdleStatusText(), "IMAGESecond");
    EXPECT_EQ(Column(2), QStringList({"00:10", "00:10"}));
    EXPECT_TRUE(dialogs_->boxes.isEmpty());

    // Confirming without another choice keeps the device open.
    const int second = form.CDHandle();
    OnModal<settings::TOptionSetForm>([](settings::TOptionSetForm& o) {
        o.PageControl1->setCurrentWidget(o.TabSheet3);
        QTest::mouseClick(o.btOk, Qt::LeftButton);
        return Result(o);
    });
    form.Action("ActionOptionSet")->trigger();
    EXPECT_EQ(form.CDHandle(), second);
}

TEST_F(WindowCommands, RenameTitleChangesTheRowOnlyWhenAccepted) {
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    QAction* rename = form.Action("aEditTrackName");
    EXPECT_FALSE(rename->isEnabled()) << "no row selected yet";
    form.ListView()->setCurrentItem(form.ListView()->topLevelItem(1));
    EXPECT_TRUE(rename->isEnabled());

    struct Case {
        const char* typed;
        Qt::Key key; // Enter accepts, Escape cancels
        QString title;
    };
    const Case cases[] = {{"Morning Song", Qt::Key_Return, "Morning Song"},
                          {"Not kept", Qt::Key_Escape, "Morning Song"},
                          {"", Qt::Key_Return, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QString shown;
        OnModal<tags::TfrmEditTrackName>([&](tags::TfrmEditTrackName& d) {
            shown = d.eName->text();
            d.eName->clear();
            QTest::keyClicks(d.eName, c.typed);
            QTest::keyClick(d.eName, c.key);
            return Result(d);
        });
        const QString before = Column(1)[1];
        rename->trigger();
        EXPECT_EQ(shown, before);
        EXPECT_EQ(Column(1), QStringList({"Track01", c.title, "Track03"}));
    }
}

TEST_F(WindowCommands, TheTagEditorAndTheAboutWindowOpenFromTheirMenus) {
    auto& form = Start();
    dialogs_->modalDialogs.clear();
    OnModal<tags::TfrmID3Edit>([](tags::TfrmID3Edit& d) {
        EXPECT_EQ(d.windowTitle(), "ID3 Tag Edit");
        QTest::mouseClick(d.bClose, Qt::LeftButton);
        return Result(d);
    });
    Entry("&Edit", "&ID3 Tag Edit")->trigger();
    EXPECT_EQ(dialogs_->modalDialogs.size(), 1);

    QStringList texts;
    OnModal<app::TAboutBox>([&texts](app::TAboutBox& a) {
        for (QLabel* label : a.findChildren<QLabel*>()) {
            texts << label->text();
        }
        QTest::mouseClick(a.Link1, Qt::LeftButton);
        QTest::mouseClick(a.Link2, Qt::LeftButton);
        QTest::mouseClick(a.OKButton, Qt::LeftButton);
        return Result(a);
    });
    Entry("&Help", "&About...")->trigger();
    EXPECT_EQ(dialogs_->modalDialogs.size(), 2);
    EXPECT_TRUE(texts.contains("Vellorine"));
    EXPECT_TRUE(texts.contains("Version: 2.5   Bulid 20081009"));
    ASSERT_EQ(shell_->requests.size(), 2);
    EXPECT_EQ(shell_->requests[0].target, app::TAboutBox::kLinks[0]);
    EXPECT_EQ(shell_->requests[1].target, app::TAboutBox::kLinks[1]);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(WindowCommands, HelpOpensTheStartPageBesideTheProgram) {
    auto& form = Start();
    const std::string index = platform::ExecutableFolder() + "help/index.html";
    ASSERT_TRUE(fs::exists(index)) << "the build copies the help beside the program";
    Entry("&Help", "&Help")->trigger();
    ASSERT_EQ(shell_->requests.size(), 1);
    EXPECT_EQ(shell_->requests[0].target.toStdString(), fs::canonical(index).string());
    EXPECT_EQ(Entry("&Help", "&Help")->shortcut(), QKeySequence(Qt::Key_F1));

    // Nothing to show HTML with: the user is told where the page is.
    shell_->answer = false;
    form.Action("mnuHelp")->trigger();
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_TRUE(dialogs_->boxes[0].text.contains(QString::fromStdString(fs::canonical(index))));
}

TEST(HelpFiles, AreFoundUnderTheInstallPrefixAndEveryLinkLeadsToAPage) {
    testsupport::ScratchFolder prefix;
    const auto install =
        testsupport::RunCommand("cmake --install " + testsupport::Quoted(VELLORINE_BINARY_DIR) +
                                " --prefix " + testsupport::Quoted(prefix.Path()));
    ASSERT_EQ(install.ExitCode, 0) << install.Output;
    const std::string installed = prefix.Path() + "/share/vellorine/help/index.html";
    EXPECT_EQ(app::FindHelpIndex(prefix.Path() + "/bin/"), installed);
    EXPECT_EQ(app::FindHelpIndex(prefix.Path() + "/"), "") << "no help there";

    const std::regex link(R"re((href|src)="([^"#:]+)(#([^"]*))?")re");
    const std::regex anchor(R"re(id="([^"]+)")re");
    const fs::path help = fs::path(installed).parent_path();
    int links = 0;
    for (const auto& page : fs::directory_iterator(help)) {
        const std::string text = testsupport::ReadText(page.path());
        for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m) {
            ++links;
            const fs::path target = help / (*m)[2].str();
            EXPECT_TRUE(fs::exists(target)) << page.path() << " links to " << target;
            if ((*m)[4].matched && fs::exists(target)) {
                EXPECT_NE(testsupport::ReadText(target).find("id=\"" + (*m)[4].str() + "\""),
                          std::string::npos)
                    << page.path() << " links to " << (*m)[0];
            }
        }
    }
    EXPECT_GT(links, 20);
}

} // namespace
