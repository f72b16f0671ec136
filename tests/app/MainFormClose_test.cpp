// What the close sequence tells the user when titles or settings cannot be stored.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/MainWindowFixture.h"

namespace fs = std::filesystem;

namespace {

using apptest::MainWindow;

struct CloseCase {
    const char* what;
    const char* readOnlyFile; // made read-only before the close; empty: none
    bool unattended;          // closed for a termination signal
    const char* box;          // the box's text up to the file's path; empty: no box
};

class ClosingTheMainWindow : public MainWindow, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingTheMainWindow, TellsTheUserWhatCouldNotBeStored) {
    const CloseCase& c = GetParam();
    cdtest::UseImages({ThreeTrackImage()});
    auto& form = Start();
    std::string file;
    if (*c.readOnlyFile != '\0') {
        file = home_.File(c.readOnlyFile);
        std::ofstream(file) << "[Kept]\nKey=1\n";
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    }
    if (c.unattended) {
        form.CloseUnattended();
    } else {
        form.close();
    }
    EXPECT_FALSE(form.isVisible()) << c.what;
    if (*c.box == '\0') {
        EXPECT_TRUE(dialogs_->boxes.isEmpty()) << c.what;
    } else {
        ASSERT_EQ(dialogs_->boxes.size(), 1) << c.what;
        EXPECT_EQ(dialogs_->boxes[0].text.toStdString(), c.box + file) << c.what;
        EXPECT_EQ(dialogs_->boxes[0].icon, platform::MbIcon::Error) << c.what;
    }
    if (!file.empty()) {
        EXPECT_EQ(testsupport::ReadText(file), "[Kept]\nKey=1\n") << c.what << ": left alone";
    }
    // What could be written was written all the same.
    const std::string other = *c.readOnlyFile == 'o' ? "cdinfo.dat" : "options.ini";
    EXPECT_TRUE(fs::exists(home_.File(other))) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ClosingTheMainWindow,
    ::testing::Values(CloseCase{"both stored", "", false, ""},
                      CloseCase{"settings refused", "options.ini", false,
                                "The settings could not be saved: Unable to write to "},
                      CloseCase{"titles refused", "cdinfo.dat", false,
                                "The disc's titles could not be saved: Unable to write to "},
                      CloseCase{"settings refused at a signal", "options.ini", true, ""},
                      CloseCase{"titles refused at a signal", "cdinfo.dat", true, ""}));

} // namespace
