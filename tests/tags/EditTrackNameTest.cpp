// The track-title dialog through its edit box and buttons.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "support/QtTestSupport.h"
#include "tags/EditTrackName.h"

namespace {

struct Ending {
    const char* name;
    QString typed; // replaces the title
    std::function<void(tags::TfrmEditTrackName&)> end;
    int result;
};

TEST(EditTrackName, EndsAsTheUserChoseWhateverTheText) {
    const Ending endings[] = {
        {"OK", "New title", [](auto& f) { QTest::mouseClick(f.bOK, Qt::LeftButton); },
         QDialog::Accepted},
        {"Enter", "New title", [](auto& f) { QTest::keyClick(f.eName, Qt::Key_Return); },
         QDialog::Accepted},
        {"Enter on an empty title", "", [](auto& f) { QTest::keyClick(f.eName, Qt::Key_Enter); },
         QDialog::Accepted},
        {"OK on an empty title does nothing", "",
         [](auto& f) { QTest::mouseClick(f.bOK, Qt::LeftButton); }, -1},
        {"Cancel", "New title", [](auto& f) { QTest::mouseClick(f.bCancel, Qt::LeftButton); },
         QDialog::Rejected},
        {"Escape", "New title", [](auto& f) { QTest::keyClick(f.eName, Qt::Key_Escape); },
         QDialog::Rejected},
        {"title bar", "New title", [](auto& f) { f.close(); }, QDialog::Rejected},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        tags::TfrmEditTrackName form;
        form.eName->setText("Track03");
        int result = -1;
        QObject::connect(&form, &QDialog::finished, [&result](int r) { result = r; });
        form.show();
        EXPECT_EQ(form.eName->selectedText(), "Track03") << "the whole title is selected";
        EXPECT_TRUE(form.bOK->isEnabled());
        QTest::keyClick(form.eName, Qt::Key_Backspace);
        QTest::keyClicks(form.eName, e.typed);
        EXPECT_EQ(form.bOK->isEnabled(), !e.typed.isEmpty());
        e.end(form);
        EXPECT_EQ(result, e.result);
        EXPECT_EQ(form.eName->text(), e.typed);
    }
}

} // namespace
