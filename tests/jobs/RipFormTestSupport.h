#pragma once
// The job window's tests: a disc image on the CD layer, an output folder, and one call that
// runs a job in the real window (offscreen) to its end, recording the window captions it
// went through and the message boxes it showed. Stop can be pressed when a caption shows up.
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <dirent.h>
#include <unistd.h>

#include "cd/DiscImages.h"
#include "cd/akrip32.h"
#include "jobs/EncoderTestSupport.h"
#include "jobs/Mp3EncodeThread.h"
#include "jobs/WMAEncodeThread.h"
#include "jobs/rip.h"

namespace jobs_test {

// The processes this test process has started and not yet reaped.
inline int ChildProcessCount() {
    int count = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return -1;
    }
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string children =
            testsupport::ReadText(std::string("/proc/self/task/") + entry->d_name + "/children");
        for (char c : children) {
            count += c == ' ' ? 1 : 0; // one blank after each pid
        }
    }
    ::closedir(tasks);
    return count;
}

struct JobOutcome {
    QStringList captions; // every window caption, in order, without repeats
    QStringList boxes;    // the texts of the message boxes shown
    bool ended = false;   // the job finished and the window closed
    int childrenAfter = -1;
    int mostAtOnce = 0; // the most encode steps that ran at the same time
    // A secure rip's summary, once no database answer was awaited: "<track> <file>: <result>"
    // per row, and the disc's line. The case closes it with its Close button.
    QStringList summary;
    QString disc;
};

// Presses Stop once a caption starting with this text has been shown for delayMs.
struct StopAt {
    QString captionPrefix;
    int delayMs = 0;
};

class JobWindowTest : public EncoderTest {
protected:
    void SetUp() override {
        EncoderTest::SetUp();
        out = dir / "out";
        fs::create_directories(out);
        settings::Settings.CommonOptions.OutputFolder = out.string();
        // The built WMA encoder, found as the program finds it when installed.
        ::setenv("PATH", (std::string(VELLORINE_BINARY_DIR) + ":" + oldPath).c_str(), 1);
    }

    void TearDown() override {
        if (handle != 0) {
            cd::CloseCDHandle(handle);
        }
        EncoderTest::TearDown();
    }

    // A disc image with tracks of these lengths (frames) and a handle on it.
    void OpenDisc(const std::vector<int>& frames) {
        cue = cdtest::MakeImage(scratch, "disc", frames);
        cdtest::UseImages({cue});
        cd::TCDList list{};
        list.max = 8;
        cd::GetCDList(list);
        ASSERT_GE(list.num, 1);
        cd::TCDHandleRequest request{12, 1, list.cd[0].ha, list.cd[0].tgt, list.cd[0].lun, 0, 0,
                                     0,  0};
        handle = cd::GetCDHandle(request);
        ASSERT_GT(handle, 0);
    }
    std::string BinPath() const { return fs::path(cue).replace_extension(".bin").string(); }

    JobOutcome Run(int kind, const QStringList& items, std::optional<StopAt> stop = {},
                   std::chrono::milliseconds timeout = 60000ms) {
        JobOutcome outcome;
        const qsizetype before = dialogs->boxes.size();
        {
            jobs::TRipForm form(nullptr, items, kind == jobs::jkExtract ? handle : 0, kind);
            bool stopArmed = stop.has_value();
            auto seen = [&](const QString& t) {
                if (outcome.captions.isEmpty() || outcome.captions.back() != t) {
                    outcome.captions << t;
                }
                if (stopArmed && t.startsWith(stop->captionPrefix)) {
                    stopArmed = false;
                    QTimer::singleShot(stop->delayMs, &form, [&form] {
                        form.findChild<QPushButton*>("btStop")->click();
                    });
                }
            };
            seen(form.windowTitle()); // the first step starts while the window is made
            QObject::connect(&form, &QWidget::windowTitleChanged, &form, seen);
            form.show();
            auto closeSummary = [&] {
                if (!form.ShowsSummary() || !outcome.summary.isEmpty()) {
                    return;
                }
                QStringList rows;
                const auto* table = form.findChild<QTreeWidget*>("SummaryTable");
                for (int i = 0; i < table->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem* row = table->topLevelItem(i);
                    rows << row->text(0) + " " + row->text(1) + ": " + row->text(2);
                }
                const QString disc = form.findChild<QLabel*>("SummaryDisc")->text();
                if (rows.join("\n").contains("waiting") || disc.contains("waiting")) {
                    return; // a database has not answered yet
                }
                outcome.summary = rows;
                outcome.disc = disc;
                form.findChild<QPushButton*>("SummaryClose")->click();
            };
            outcome.ended = PumpUntil(
                [&] {
                    closeSummary();
                    return form.JobFinished() && !form.isVisible();
                },
                timeout);
            outcome.mostAtOnce = form.MostEncodesAtOnce();
        }
        for (qsizetype i = before; i < dialogs->boxes.size(); ++i) {
            outcome.boxes << dialogs->boxes[i].text;
        }
        outcome.childrenAfter = ChildProcessCount();
        return outcome;
    }

    bool Exists(const std::string& name) const { return fs::exists(out / name); }
    std::string Out(const std::string& name) const { return (out / name).string(); }

    fs::path out;
    std::string cue;
    int handle = 0;
};

} // namespace jobs_test
