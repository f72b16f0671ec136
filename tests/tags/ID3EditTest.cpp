// The ID3 editor driven through its buttons, edits and scripted file dialogs on real MP3
// files made by lame; id3v2 reads back what was saved, and the audio frames are compared
// before and after every edit.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "TagTestFiles.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "tags/ID3Edit.h"
#include "tags/TagWriter.h"
#include "tags/id3.h"

namespace fs = std::filesystem;
using namespace tagtests;

namespace {

class ID3EditWindow : public ::testing::Test {
protected:
    void SetUp() override {
        mp3_ = MakeMp3(folder_, "song.mp3", 0.5);
        ASSERT_FALSE(mp3_.empty()) << "lame could not make the fixture";
        audio_ = ReadAll(mp3_);
        form_ = std::make_unique<tags::TfrmID3Edit>();
        form_->show();
    }

    void Load(const std::string& path) {
        dialogs_->openAnswers.push_back({QString::fromStdString(path)});
        QTest::mouseClick(form_->bLoadTag, Qt::LeftButton);
    }
    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        for (const QChar c : text) {
            // keyClicks takes ASCII only; other characters arrive as typed text.
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    std::string Tagged(const std::string& name) {
        const std::string path = folder_.File(name);
        fs::copy_file(mp3_, path);
        EXPECT_EQ(
            RunCommand("id3v2 -1 -t Tit -a Art -A Alb -y 1999 -c Com -T 5 -g 12 " + Quoted(path))
                .ExitCode,
            0);
        return path;
    }

    ScratchFolder folder_;
    std::string mp3_;
    Bytes audio_;
    testsupport::ScopedDialogs scripted_;
    platform::ScriptedDialogs* dialogs_ = scripted_.get();
    std::unique_ptr<tags::TfrmID3Edit> form_;
};

TEST_F(ID3EditWindow, AFileWithoutATagGetsTheTypedTagAndKeepsItsAudio) {
    EXPECT_EQ(form_->windowTitle(), "ID3 Tag Edit");
    EXPECT_FALSE(form_->bSaveTag->isEnabled());
    EXPECT_FALSE(form_->bRemoveTag->isEnabled());

    Load(mp3_);
    EXPECT_EQ(form_->windowTitle(), QString::fromStdString(mp3_) + ": ID3 Tag Edit");
    EXPECT_TRUE(form_->bSaveTag->isEnabled());
    EXPECT_EQ(form_->ID3track->text(), "0");
    EXPECT_EQ(form_->ID3genre->currentIndex(), -1);
    EXPECT_EQ(dialogs_->fileRequests.front().filter, "Index files (*.mp3)|*.mp3");

    Type(form_->ID3title, "Night Train");
    Type(form_->ID3artist, "The Caf\u00e9 Band and a name far too long to fit");
    Type(form_->ID3album, "Live");
    Type(form_->ID3year, "19876");
    Type(form_->ID3comment, "ripped at home");
    Type(form_->ID3track, "7");
    form_->ID3genre->setCurrentIndex(form_->ID3genre->findText("Other"));
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);

    EXPECT_TRUE(dialogs_->boxes.isEmpty());
    const Bytes after = ReadAll(mp3_);
    EXPECT_EQ(after.size(), audio_.size() + 128);
    EXPECT_EQ(AudioPart(after), audio_);
    const auto listed = ListedByTool(mp3_);
    EXPECT_EQ(listed.at("title"), "Night Train");
    EXPECT_EQ(listed.at("artist"), "The Caf\xe9 Band and a name far t");
    EXPECT_EQ(listed.at("year"), "1987");
    EXPECT_EQ(listed.at("album"), "Live");
    EXPECT_EQ(listed.at("comment"), "ripped at home");
    EXPECT_EQ(listed.at("track"), "7");
    EXPECT_EQ(listed.at("genre"), "Other (12)");
}

TEST_F(ID3EditWindow, ATagWrittenByTheToolIsShownAndTheTrackEditFollowsItsRules) {
    const std::string path = Tagged("tagged.mp3");
    Load(path);
    EXPECT_EQ(form_->ID3title->text(), "Tit");
    EXPECT_EQ(form_->ID3artist->text(), "Art");
    EXPECT_EQ(form_->ID3album->text(), "Alb");
    EXPECT_EQ(form_->ID3year->text(), "1999");
    EXPECT_EQ(form_->ID3comment->text(), "Com");
    EXPECT_EQ(form_->ID3genre->currentText(), "Other");
    EXPECT_EQ(form_->ID3track->text(), "5");

    // Letters are dropped; at most two digits; Tab still leaves the edit.
    form_->ID3track->clear();
    QTest::keyClicks(form_->ID3track, "a1b 2-3");
    EXPECT_EQ(form_->ID3track->text(), "12");
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    form_->ID3track->setFocus();
    ASSERT_TRUE(form_->ID3track->hasFocus());
    QTest::keyClick(form_->ID3track, Qt::Key_Tab);
    EXPECT_FALSE(form_->ID3track->hasFocus());
    QTest::keyClick(form_->ID3track, Qt::Key_Backspace);
    EXPECT_EQ(form_->ID3track->text(), "1");

    // An empty track edit keeps the loaded track.
    form_->ID3track->clear();
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
    EXPECT_EQ(ListedByTool(path).at("track"), "5");

    // "0" writes the version 1.0 layout: a 30-byte comment, no track byte.
    Type(form_->ID3track, "0");
    Type(form_->ID3comment, "A comment of thirty characters");
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
    const Bytes after = ReadAll(path);
    EXPECT_EQ(std::string(after.end() - 31, after.end() - 1), "A comment of thirty characters");
    EXPECT_EQ(AudioPart(after), audio_);
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST_F(ID3EditWindow, FilesThatMayNotBeWrittenAreRefusedAndLeftByteForByte) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> spoil; // after Load, before Save
    };
    int heldOpen = -1;
    const Case cases[] = {
        {"read-only", [](const std::string& p) { fs::permissions(p, fs::perms::owner_read); }},
        {"in use", [&heldOpen](const std::string& p) { heldOpen = ::open(p.c_str(), O_RDONLY); }},
        {"vanished", [](const std::string& p) { fs::remove(p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs_->boxes.clear();
        const std::string path = Tagged(std::string("spoilt ") + c.name + ".mp3");
        const Bytes before = ReadAll(path);
        Load(path);
        c.spoil(path);
        Type(form_->ID3title, "Changed");
        QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
        EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"Could not save Tag!"});
        EXPECT_EQ(dialogs_->boxes.front().icon, platform::MbIcon::Information);
        EXPECT_EQ(ReadAll(path), fs::exists(path) ? before : Bytes{});
        EXPECT_EQ(fs::exists(path), std::string(c.name) != "vanished") << "never created";
        if (heldOpen >= 0) {
            ::close(heldOpen);
            heldOpen = -1;
        }
    }
}

TEST_F(ID3EditWindow, AVanishedFileNeverSendsTheTagIntoTheFileLoadedBefore) {
    const std::string first = Tagged("first.mp3");
    const Bytes before = ReadAll(first);
    Load(first);
    Load(folder_.File("gone.mp3"));
    EXPECT_EQ(form_->ID3title->text(), "") << "the controls are cleared";
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"Could not save Tag!"});
    EXPECT_EQ(ReadAll(first), before);
    EXPECT_FALSE(fs::exists(folder_.File("gone.mp3")));
}

TEST_F(ID3EditWindow, AnEmptyFileGetsATagOfItsOwn) {
    const std::string empty = folder_.Write("empty.mp3", {});
    Load(empty);
    Type(form_->ID3title, "x");
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
    EXPECT_EQ(ReadAll(empty).size(), 128u);
}

TEST_F(ID3EditWindow, RemoveAsksFirstAndClearsOnlyWhenTheTagIsGone) {
    const std::string path = Tagged("remove.mp3");
    const Bytes tagged = ReadAll(path);
    Load(path);

    dialogs_->answers.push_back(platform::MbResult::No);
    QTest::mouseClick(form_->bRemoveTag, Qt::LeftButton);
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text, "Do you want to remove these tags?");
    EXPECT_EQ(dialogs_->boxes[0].buttons, platform::MbButtons::YesNo);
    EXPECT_EQ(ReadAll(path), tagged);
    EXPECT_EQ(form_->ID3title->text(), "Tit");

    // A read-only file keeps its tag, and the window says so instead of clearing.
    fs::permissions(path, fs::perms::owner_read);
    dialogs_->answers.push_back(platform::MbResult::Yes);
    QTest::mouseClick(form_->bRemoveTag, Qt::LeftButton);
    EXPECT_EQ(dialogs_->boxes.back().text, "Could not remove Tag!");
    EXPECT_EQ(ReadAll(path), tagged);
    EXPECT_EQ(form_->ID3title->text(), "Tit");

    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    dialogs_->answers.push_back(platform::MbResult::Yes);
    QTest::mouseClick(form_->bRemoveTag, Qt::LeftButton);
    EXPECT_EQ(ReadAll(path), audio_);
    EXPECT_EQ(form_->ID3title->text(), "");
    EXPECT_EQ(form_->ID3track->text(), "0");
    EXPECT_EQ(form_->ID3genre->currentIndex(), -1);
}

TEST_F(ID3EditWindow, SaveAsWritesIntoTheChosenFileWhichLaterSavesFollow) {
    const std::string source = Tagged("source.mp3");
    const std::string target = folder_.File("target.mp3");
    fs::copy_file(mp3_, target);
    Load(source);
    const Bytes sourceBytes = ReadAll(source);

    dialogs_->openAnswers.push_back({QString::fromStdString(target)});
    QTest::mouseClick(form_->bSaveAS, Qt::LeftButton);
    EXPECT_EQ(form_->windowTitle(), QString::fromStdString(target) + ": ID3 Tag Edit");
    EXPECT_EQ(ListedByTool(target).at("title"), "Tit");

    Type(form_->ID3title, "Second");
    QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
    EXPECT_EQ(ListedByTool(target).at("title"), "Second");
    EXPECT_EQ(ReadAll(source), sourceBytes);
    EXPECT_EQ(AudioPart(ReadAll(target)), audio_);

    // Cancelling the file dialog changes nothing; a missing file is not created.
    QTest::mouseClick(form_->bSaveAS, Qt::LeftButton);
    dialogs_->openAnswers.push_back({QString::fromStdString(folder_.File("new.mp3"))});
    QTest::mouseClick(form_->bSaveAS, Qt::LeftButton);
    EXPECT_FALSE(fs::exists(folder_.File("new.mp3")));
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"Could not save Tag!"});
    EXPECT_EQ(form_->windowTitle(), QString::fromStdString(target) + ": ID3 Tag Edit");
}

// A version 2 tag is shown whole beside the version 1 fields, and neither saving nor
// removing the version 1 tag changes a byte of it.
TEST_F(ID3EditWindow, AVersion2TagIsShownWholeAndVersion1EditsLeaveItsBytes) {
    const std::string tokyo = "\xe6\x9d\xb1\xe4\xba\xac \xe2\x80\x93 "; // 東京 –
    const std::string longTitle = tokyo + std::string(200, 'y');
    const struct {
        const char* name;
        bool withVersion1;
        bool remove; // Remove Tag instead of Save Tag
    } cases[] = {
        {"v2only.mp3", false, false},
        {"both.mp3", true, false},
        {"removed.mp3", true, true},
    };
    for (const auto& c : cases) {
        const std::string path = folder_.File(c.name);
        fs::copy_file(mp3_, path);
        if (c.withVersion1) {
            tags::Tid3tag v1;
            v1.SetTitle("Short");
            ASSERT_EQ(v1.WriteTag(path), tags::ID3_DONE);
        }
        tags::TTagSet set;
        set.Title = longTitle;
        set.AlbumArtist = "Various";
        set.Track = 7;
        set.TrackTotal = 12;
        ASSERT_EQ(tags::WriteTagSet(path, ".mp3", set), "");
        const Bytes before = ReadAll(path);
        const std::size_t v2size = before.size() - audio_.size() - (c.withVersion1 ? 128 : 0);

        Load(path);
        ASSERT_TRUE(form_->ID3v2group->isVisible()) << c.name;
        EXPECT_EQ(form_->ID3v2group->title(), "ID3v2.4 Tag (read-only)");
        EXPECT_EQ(form_->v2title->text().toStdString(), longTitle) << c.name;
        EXPECT_TRUE(form_->v2title->isReadOnly());
        EXPECT_EQ(form_->v2albumArtist->text(), "Various");
        EXPECT_EQ(form_->v2track->text(), "7/12");
        EXPECT_EQ(form_->ID3title->text(), c.withVersion1 ? "Short" : "") << c.name;

        if (c.remove) {
            dialogs_->answers.push_back(platform::MbResult::Yes);
            QTest::mouseClick(form_->bRemoveTag, Qt::LeftButton);
        } else {
            Type(form_->ID3title, "Edited");
            QTest::mouseClick(form_->bSaveTag, Qt::LeftButton);
        }
        const Bytes after = ReadAll(path);
        ASSERT_GE(after.size(), v2size) << c.name;
        EXPECT_TRUE(
            std::equal(before.begin(), before.begin() + static_cast<long>(v2size), after.begin()))
            << c.name << ": the version 2 tag changed";
        EXPECT_EQ(
            Bytes(after.begin() + static_cast<long>(v2size), after.end() - (c.remove ? 0 : 128)),
            audio_)
            << c.name << ": the audio changed";
        tags::Tid3tag v1;
        EXPECT_EQ(tags::Id3Succeeded(v1.ReadTag(path)), !c.remove) << c.name;
        EXPECT_FALSE(dialogs_->BoxTexts().join("\n").contains("Could not")) << c.name;
    }

    // A file without one hides the group again.
    Load(mp3_);
    EXPECT_FALSE(form_->ID3v2group->isVisible());
}

} // namespace
