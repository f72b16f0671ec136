#include "tools/RecordForm.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "jobs/rip.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"
#include "settings/Global.h"
#include "support/QtTestSupport.h"
#include "support/ScopedStandIns.h"
#include "support/SoundFixtures.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"
#include "tools/NewRecordFileForm.h"

using namespace tools;
using namespace testsupport;
using platform::MbIcon;
using platform::MbResult;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double kToneHz = 1234.5;
const TButtonSet kStopped = {TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btPrev,
                             TMPBtnType::btRecord};
const TButtonSet kOpened = {TMPBtnType::btPlay, TMPBtnType::btNext, TMPBtnType::btRecord};

struct NewFormat {
    const char* rate;
    bool eightBit;
    bool mono;
};

// A recorder window over a scratch program folder, with scripted dialogs and shell.
class RecorderWindow : public ::testing::Test {
protected:
    void SetUp() override {
        settings::Settings = {};
        form_ = std::make_unique<TfrmRecord>(nullptr, 0);
        form_->show();
    }
    void TearDown() override { form_.reset(); }

    void Click(TMPBtnType button) {
        QToolButton* control = form_->MediaPlayer1->Button(button);
        ASSERT_TRUE(control->isEnabled()) << control->objectName().toStdString();
        QTest::mouseClick(control, Qt::LeftButton);
    }
    // Chooses New with the format set through the dialog's own controls.
    void New(const NewFormat& format) {
        dialogs_->onModal = [format](QWidget* widget) {
            auto* dialog = qobject_cast<TfrmNewRecordFile*>(widget);
            dialog->cbBitSamples->setCurrentText(format.rate);
            (format.eightBit ? dialog->rb8Bit : dialog->rb16Bit)->click();
            (format.mono ? dialog->rbMono : dialog->rbStereo)->click();
            return int(QDialog::Accepted);
        };
        form_->miNew->trigger();
        dialogs_->onModal = nullptr;
    }
    // Opens a document through the open dialog.
    void Open(const std::string& path) {
        dialogs_->openAnswers.push_back({QString::fromStdString(path)});
        form_->miOpen->trigger();
    }
    // Presses Record, lets the window run for ms, presses Stop; the recording time shown.
    int64_t Record(int ms) {
        Click(TMPBtnType::btRecord);
        QTest::qWait(ms);
        Click(TMPBtnType::btStop);
        return form_->RecordElapsedMs();
    }
    std::string Home() const { return home_.Path() + "/"; }

    ScratchFolder home_;
    ScopedEnv env_{"VELLORINE_HOME", home_.Path().c_str()};
    const ScopedDialogs scripted_;
    platform::ScriptedDialogs* const dialogs_ = scripted_.get();
    const ScopedShell recordingShell_;
    platform::RecordingShell* const shell_ = recordingShell_.get();
    std::unique_ptr<TfrmRecord> form_;
};

class RecorderWithSound : public RecorderWindow {
protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER();
        RecorderWindow::SetUp();
    }
    MonitorAsDefaultSource monitor_;
};

} // namespace

TEST(RecorderTexts, DurationsAndRecordingTimes) {
    const struct {
        int64_t ms;
        const char* duration;
        const char* recordTime;
    } cases[] = {
        {0, "0 Sec", "00:00:00.0"},          {1500, "1.5 Sec", "00:00:01.5"},
        {12345, "12.3 Sec", "00:00:12.3"},   {59999, "60 Sec", "00:00:59.9"},
        {65300, "1 Min5 Sec", "00:01:05.3"}, {75000, "1 Min15 Sec", "00:01:15.0"},
        {120000, "2 Min", "00:02:00.0"},     {3723000, "1Hour2 Min3 Sec", "01:02:03.0"},
        {3600000, "1Hour", "01:00:00.0"},    {36005000, "10Hour5 Sec", "10:00:05.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DurationText(c.ms).toStdString(), c.duration) << c.ms;
        EXPECT_EQ(RecordTimeText(c.ms).toStdString(), c.recordTime) << c.ms;
    }
}

TEST_F(RecorderWindow, StartsEmptyAndNewWritesTheChosenFormat) {
    EXPECT_EQ(form_->windowTitle(), "Record");
    EXPECT_EQ(form_->lbState->text(), "-----------");
    EXPECT_EQ(form_->lbLength->text(), "0.00Sec");
    EXPECT_EQ(form_->panRecordTime->text(), "00:00:00.0");
    EXPECT_EQ(form_->TrackBar1->maximum(), 400);
    EXPECT_TRUE(form_->MediaPlayer1->EnabledButtons().empty());
    EXPECT_FALSE(form_->miSave->isEnabled());
    EXPECT_EQ(form_->WorkFile().toStdString(), Home() + "MyTemp.wav");

    TfrmNewRecordFile defaults;
    EXPECT_EQ(defaults.SampleRate(), 44100u);
    EXPECT_EQ(defaults.Bits(), 16);
    EXPECT_EQ(defaults.Channels(), 2);
    EXPECT_EQ(defaults.cbBitSamples->count(), 9);

    const struct {
        NewFormat format;
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
    } cases[] = {{{"  8000", true, true}, 1, 8000, 8},
                 {{"22050", false, true}, 1, 22050, 16},
                 {{"48000", true, false}, 2, 48000, 8}};
    for (const auto& c : cases) {
        New(c.format);
        const Bytes header = ReadAll(Home() + "MyNoName.wav");
        ASSERT_EQ(header.size(), 44u);
        EXPECT_EQ(header[22], c.channels);
        EXPECT_EQ(Le32(header, 24), c.rate);
        EXPECT_EQ(header[34], c.bits);
        EXPECT_EQ(header[32], c.channels * c.bits / 8);
        EXPECT_EQ(form_->CurrentFile(), form_->ScratchFile());
        EXPECT_EQ(form_->windowTitle(), "Record(NoName)");
        EXPECT_EQ(form_->lbLength->text(), "0.00 Sec");
        EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), TButtonSet{TMPBtnType::btRecord});
        EXPECT_TRUE(form_->miSave->isEnabled());
        EXPECT_FALSE(form_->miUndo->isEnabled());
    }
    // Cancel in the format dialog changes nothing.
    form_->miNew->trigger();
    EXPECT_EQ(ReadAll(Home() + "MyNoName.wav")[24], 0x80); // 48000 = 0xBB80
    EXPECT_TRUE(dialogs_->boxes.isEmpty());
}

TEST_F(RecorderWindow, OpenRefusesMissingAndUnplayableFilesAndRecordingSettingsNeedTheMixer) {
    const std::string missing = Home() + "missing.wav";
    dialogs_->openAnswers.push_back({QString::fromStdString(missing)});
    form_->miOpen->trigger(); // the dialog comes again, and is cancelled
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_EQ(dialogs_->boxes[0].text, "Please check the filename correct or not\r\nCould not be "
                                       "found\uFF01\r\n" +
                                           QString::fromStdString(missing));
    EXPECT_EQ(dialogs_->boxes[0].icon, MbIcon::Warning);
    EXPECT_EQ(dialogs_->fileRequests.size(), 2);
    EXPECT_EQ(dialogs_->fileRequests[0].title, "Please select a sound file to open");
    EXPECT_EQ(dialogs_->fileRequests[0].initialDir.toStdString() + "/",
              Home() + "/"); // the program folder
    EXPECT_TRUE(form_->CurrentFile().isEmpty());

    const std::string ima = Home() + "ima.wav";
    ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -e ima-adpcm " + Quoted(ima) + " synth 0.2 sine 440")
                  .ExitCode,
              0);
    Open(ima);
    ASSERT_EQ(dialogs_->boxes.size(), 2);
    EXPECT_TRUE(dialogs_->boxes[1].text.startsWith("Error while initializing MCI device!\n"));
    EXPECT_TRUE(form_->MediaPlayer1->EnabledButtons().empty());

    shell_->answer = false;
    form_->miRecordOptionSet->trigger();
    ASSERT_EQ(shell_->requests.size(), 1);
    EXPECT_EQ(shell_->requests[0].program, "pavucontrol");
    EXPECT_EQ(shell_->requests[0].arguments, QStringList{"--tab=2"});
    EXPECT_EQ(dialogs_->boxes.back().text, platform::VolumeControlMissingText());
}

TEST_F(RecorderWithSound, ANewRecordingHoldsTheToneForTheTimeRecordedAndIsSavedByName) {
    TonePlayer tone(kToneHz);
    New({"44100", false, false});
    const int64_t recorded = Record(1350);
    // Stop waited for the rest of the second the time display was in.
    EXPECT_EQ(form_->lbState->text(), "Record over!");
    EXPECT_EQ(form_->TrackBar1->value(), 400);
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kStopped);
    EXPECT_TRUE(form_->Modified());
    EXPECT_FALSE(form_->miUndo->isEnabled()) << "nothing to undo to for a new recording";
    EXPECT_GE(recorded, 1990);
    EXPECT_LT(recorded, 2400);
    EXPECT_EQ(form_->panRecordTime->text(), RecordTimeText(recorded));

    const SoxSound sound = ReadWithSox(Home() + "MyNoName.wav");
    const double lengthMs = static_cast<double>(sound.samples.size()) / 44.1;
    EXPECT_NEAR(lengthMs, static_cast<double>(recorded), 50);
    EXPECT_EQ(form_->lbLength->text(), DurationText(static_cast<int64_t>(lengthMs)));
    const ToneTrack track = TrackTone(sound.samples, 44100, kToneHz, 882);
    for (size_t i = 1; i < track.amplitude.size(); ++i) {
        ASSERT_GT(track.amplitude[i], 0.3) << "window " << i;
    }
    EXPECT_LT(MaxPhaseStep(track, 1, track.amplitude.size()), 0.15);

    // Save asks for a name (it must be a WAV name) and renames the scratch file to it.
    dialogs_->saveAnswers = {QString::fromStdString(Home() + "take.mp3"),
                             QString::fromStdString(Home() + "take.WAV")};
    form_->miSave->trigger();
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"The save file should be WAV!"});
    EXPECT_TRUE(form_->Modified());
    form_->miSave->trigger();
    EXPECT_FALSE(form_->Modified());
    EXPECT_EQ(form_->CurrentFile().toStdString(), Home() + "take.WAV");
    EXPECT_EQ(form_->windowTitle().toStdString(), "Record(" + Home() + "take.WAV)");
    EXPECT_FALSE(fs::exists(Home() + "MyNoName.wav"));
    EXPECT_EQ(ReadAll(Home() + "take.WAV"), ReadAll(Home() + "MyTemp.wav"));
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kOpened);
}

TEST_F(RecorderWithSound, RecordingAtTheMiddleOfADocumentInsertsThereAndUndoBringsItBack) {
    const std::string doc = Home() + "doc.wav";
    ASSERT_EQ(RunCommand("sox -n -r 44100 -c 1 -b 16 " + Quoted(doc) + " trim 0 2").ExitCode, 0);
    const Bytes original = ReadAll(doc);
    Open(doc);
    EXPECT_EQ(form_->lbLength->text(), "2 Sec");
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kOpened);
    TonePlayer tone(kToneHz);
    form_->TrackBar1->setValue(200);
    EXPECT_EQ(form_->lbPosition->text(), "1 Sec");
    const int64_t recorded = Record(300);
    EXPECT_EQ(ReadAll(doc), original) << "the document changes only when saved";
    ASSERT_TRUE(form_->miUndo->isEnabled());

    const SoxSound sound = ReadWithSox(Home() + "MyTemp.wav");
    EXPECT_NEAR(static_cast<double>(sound.samples.size()) / 44.1,
                static_cast<double>(2000 + recorded), 50);
    const ToneTrack track = TrackTone(sound.samples, 44100, kToneHz, 441);
    EXPECT_LT(track.amplitude[97], 0.01);
    EXPECT_GT(track.amplitude[103], 0.3) << "the new sound starts at half the old length";
    const auto toneEnd = static_cast<size_t>(sound.samples.size() / 441 - 100);
    EXPECT_GT(track.amplitude[toneEnd - 3], 0.3);
    EXPECT_LT(track.amplitude[toneEnd + 3], 0.01);

    // Undo: the work file is the document again.
    dialogs_->answers = {MbResult::Yes};
    form_->miUndo->trigger();
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"Discard the modification since last save file."});
    EXPECT_EQ(ReadAll(Home() + "MyTemp.wav"), original);
    EXPECT_EQ(form_->lbLength->text(), "2 Sec");
    EXPECT_EQ(form_->lbPosition->text(), "2 Sec");
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kOpened);

    // Record again and save: the document takes the work file's sound.
    form_->TrackBar1->setValue(400);
    Record(200);
    form_->miSave->trigger();
    EXPECT_FALSE(form_->Modified());
    EXPECT_EQ(ReadAll(doc), ReadAll(Home() + "MyTemp.wav"));
    EXPECT_GT(ReadAll(doc).size(), original.size());
}

TEST_F(RecorderWithSound, PlayRunsTheTrackBarToTheEnd) {
    const std::string doc = Home() + "tone.wav";
    ASSERT_EQ(
        RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quoted(doc) + " synth 1.2 sine 440").ExitCode,
        0);
    Open(doc);
    form_->TrackBar1->setValue(400);
    Click(TMPBtnType::btPlay);
    EXPECT_EQ(form_->lbState->text(), "Playing...");
    EXPECT_EQ(form_->TrackBar1->value(), 0) << "play from the end starts again at 0";
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(),
              (TButtonSet{TMPBtnType::btPause, TMPBtnType::btStop, TMPBtnType::btNext,
                          TMPBtnType::btPrev}));
    EXPECT_FALSE(form_->miSave->isEnabled());
    EXPECT_TRUE(PumpUntil([this] { return form_->TrackBar1->value() > 100; }, 3s));
    EXPECT_EQ(form_->MediaPlayer1->Mode(), platform::WaveAudioMode::Playing);
    EXPECT_TRUE(PumpUntil([this] { return !form_->Timer1->isActive(); }, 3s));
    EXPECT_EQ(form_->TrackBar1->value(), 400);
    EXPECT_EQ(form_->lbState->text(), "-----------");
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(),
              (TButtonSet{TMPBtnType::btPlay, TMPBtnType::btPrev, TMPBtnType::btRecord}));
    Click(TMPBtnType::btPrev);
    EXPECT_EQ(form_->TrackBar1->value(), 0);
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kOpened);
}

TEST_F(RecorderWithSound, ClosingAsksAboutAnUnsavedRecordingAndCancelKeepsTheScratchFile) {
    TonePlayer tone(kToneHz);
    New({"8000", true, true});
    Click(TMPBtnType::btRecord);
    QTest::qWait(250);
    dialogs_->answers = {MbResult::Cancel};
    form_->close(); // Stop is pressed for the user, then the question comes
    EXPECT_EQ(dialogs_->BoxTexts(), QStringList{"NoName has been modified,Save it?"});
    EXPECT_EQ(dialogs_->boxes[0].buttons, platform::MbButtons::YesNoCancel);
    EXPECT_FALSE(form_->isVisible());
    const SoxSound sound = ReadWithSox(Home() + "MyNoName.wav");
    EXPECT_GT(sound.samples.size(), 8000u * 9 / 10) << "the stop waited for the whole second";
    EXPECT_FALSE(fs::exists(Home() + "MyTemp.wav"));
}

TEST_F(RecorderWithSound, SaveAsAndBadTargetsKeepTheUsersFiles) {
    const std::string doc = Home() + "doc.wav";
    ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quoted(doc) + " trim 0 1").ExitCode, 0);
    const Bytes original = ReadAll(doc);
    Open(doc);
    {
        TonePlayer tone(kToneHz);
        Record(100);
    }
    // A read-only document is not overwritten; the recording stays in the work file.
    chmod(doc.c_str(), 0444);
    form_->miSave->trigger();
    EXPECT_EQ(dialogs_->BoxTexts().back(),
              "Error when saving WAV file,please check if the file is being uesd.");
    EXPECT_EQ(ReadAll(doc), original);
    EXPECT_TRUE(form_->Modified());
    chmod(doc.c_str(), 0644);

    // Save As: an existing name asks first; No keeps it.
    const std::string other = Home() + "other.wav";
    ASSERT_EQ(RunCommand("cp " + Quoted(doc) + " " + Quoted(other)).ExitCode, 0);
    dialogs_->saveAnswers = {QString::fromStdString(other)};
    dialogs_->answers = {MbResult::No};
    form_->miSaveAs->trigger();
    EXPECT_EQ(dialogs_->BoxTexts().back().toStdString(), other + " has existed,overite it?");
    EXPECT_EQ(ReadAll(other), original);
    dialogs_->saveAnswers = {QString::fromStdString(other)};
    dialogs_->answers = {MbResult::Yes};
    form_->miSaveAs->trigger();
    EXPECT_EQ(ReadAll(other), ReadAll(Home() + "MyTemp.wav"));
    EXPECT_EQ(form_->CurrentFile().toStdString(), other);
    EXPECT_TRUE(form_->Modified()) << "Save As leaves the modified flag as it was";
}

TEST_F(RecorderWithSound, ARecordingWithoutAServerIsRefusedAndAnMp3WithoutACdCloses) {
    New({"22050", false, true});
    {
        ScopedEnv nowhere("PULSE_SERVER", ("unix:" + home_.File("none")).c_str());
        Click(TMPBtnType::btRecord);
    }
    ASSERT_EQ(dialogs_->boxes.size(), 1);
    EXPECT_TRUE(dialogs_->boxes[0].text.startsWith("Could not start recording:"));
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), TButtonSet{TMPBtnType::btRecord});
    EXPECT_FALSE(form_->Modified());
    EXPECT_FALSE(form_->TimerRecord->isActive());

    // With MP3 on and no CD device open, a save ends with the message and the window closes.
    {
        TonePlayer tone(kToneHz);
        Record(100);
    }
    form_->miSaveMp3->setChecked(true);
    dialogs_->saveAnswers = {QString::fromStdString(Home() + "mp3.wav")};
    form_->miSave->trigger();
    EXPECT_EQ(dialogs_->BoxTexts().back(), "Please access CD devices rightly above all!");
    EXPECT_TRUE(PumpUntil([this] { return !form_->isVisible(); }, 1s));
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(settings::Settings.RecordOptions.SaveMp3);
    EXPECT_TRUE(fs::exists(Home() + "mp3.wav"));
}

TEST_F(RecorderWithSound, SavingWithMp3OnRunsTheJobWindowAndAsksOnlyTheFirstTime) {
    const std::string doc = Home() + "song.wav";
    ASSERT_EQ(
        RunCommand("sox -n -r 44100 -c 2 -b 16 " + Quoted(doc) + " synth 1 sine 440").ExitCode, 0);
    const std::string mp3 = Home() + "song.mp3";
    home_.WriteText("song.mp3", "an older file");
    form_ = std::make_unique<TfrmRecord>(nullptr, 1); // a CD device is open
    form_->show();
    form_->miSaveMp3->setChecked(true);
    int jobs = 0;
    dialogs_->onModal = [&jobs](QWidget* widget) {
        auto* job = qobject_cast<jobs::TRipForm*>(widget);
        EXPECT_NE(job, nullptr);
        ++jobs;
        job->show();
        EXPECT_TRUE(PumpUntil([job] { return job->JobFinished() && !job->isVisible(); }, 60s));
        return job->result();
    };
    Open(doc);
    TonePlayer tone(kToneHz);
    Record(300); // Stop waits until a whole second
    dialogs_->answers = {MbResult::Yes};
    form_->miSave->trigger();
    EXPECT_EQ(dialogs_->BoxTexts(),
              QStringList{QString::fromStdString(mp3) + " has existed,overite it?"});
    EXPECT_EQ(jobs, 1);
    EXPECT_TRUE(form_->Mp3Exported());
    EXPECT_EQ(settings::Settings.CommonOptions.OutputFormat, settings::TOutputFormat::ofMp3);
    // The MP3 (with lame's padding) is as long as the saved WAV file.
    const auto duration = [](const std::string& path) {
        return std::stod(
            RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path))
                .Output);
    };
    EXPECT_GT(duration(doc), 1.9);
    EXPECT_NEAR(duration(mp3), duration(doc), 0.1);

    form_->TrackBar1->setValue(400);
    Record(300); // Stop waits until a whole second
    form_->miSave->trigger();
    EXPECT_EQ(dialogs_->boxes.size(), 1) << "the second save does not ask again";
    EXPECT_EQ(jobs, 2);
    EXPECT_GT(duration(doc), 2.9);
    EXPECT_NEAR(duration(mp3), duration(doc), 0.1);
    EXPECT_TRUE(fs::exists(doc)) << "the WAV file is always kept";

    // Save As exports beside the new name and asks again about an MP3 already there.
    const std::string copy = Home() + "copy.wav";
    home_.WriteText("copy.mp3", "keep me");
    dialogs_->saveAnswers = {QString::fromStdString(copy)};
    dialogs_->answers = {MbResult::No};
    form_->miSaveAs->trigger();
    EXPECT_EQ(dialogs_->BoxTexts().back().toStdString(),
              Home() + "copy.mp3 has existed,overite it?");
    EXPECT_EQ(ReadText(Home() + "copy.mp3"), "keep me");
    EXPECT_EQ(jobs, 2);
    EXPECT_EQ(ReadAll(copy), ReadAll(doc));
}

TEST_F(RecorderWithSound, AServerGoneMidRecordingEndsItWithAMessageAndKeepsTheSound) {
    ScratchFolder serverFolder;
    PrivateSoundServer server(serverFolder.Path());
    New({"44100", false, false});
    Click(TMPBtnType::btRecord);
    // Killed once sound has reached the file (an idle sink's monitor can take two seconds).
    ASSERT_TRUE(
        PumpUntil([this] { return settings::FileSizeOf(Home() + "MyNoName.wav") > 44; }, 10s));
    server.Kill();
    ASSERT_TRUE(PumpUntil([this] { return !dialogs_->boxes.isEmpty(); }, 5s));
    EXPECT_TRUE(dialogs_->BoxTexts()[0].startsWith("Error while saving sound file!\n"))
        << dialogs_->BoxTexts()[0].toStdString();
    EXPECT_EQ(dialogs_->boxes[0].icon, MbIcon::Error);
    EXPECT_EQ(form_->lbState->text(), "Record over!");
    EXPECT_FALSE(form_->TimerRecord->isActive());
    EXPECT_EQ(form_->MediaPlayer1->EnabledButtons(), kStopped);
    EXPECT_TRUE(form_->Modified());
    EXPECT_EQ(RunCommand("soxi " + Quoted(Home() + "MyNoName.wav")).ExitCode, 0);
    EXPECT_EQ(form_->lbLength->text(), DurationText(form_->MediaPlayer1->Length()));
}

TEST_F(RecorderWindow, TheScratchAndWorkFilesNeverOpenAsDocuments) {
    fs::create_directories(Home() + "sub");
    const std::string spellings[] = {Home() + "MyNoName.wav", Home() + "MyTemp.wav",
                                     Home() + "sub/../MyNoName.wav"};
    for (const std::string& path : spellings) {
        SCOPED_TRACE(path);
        for (const char* name : {"MyNoName.wav", "MyTemp.wav"}) {
            ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quoted(Home() + name) +
                                 " synth 0.3 sine 440")
                          .ExitCode,
                      0);
        }
        const Bytes before = ReadAll(path);
        dialogs_->boxes.clear();
        Open(path); // refused, then the dialog comes again and is cancelled
        ASSERT_EQ(dialogs_->boxes.size(), 1);
        EXPECT_TRUE(dialogs_->boxes[0].text.contains("recorder's own working file"))
            << dialogs_->boxes[0].text.toStdString();
        EXPECT_TRUE(form_->CurrentFile().isEmpty());
        EXPECT_TRUE(form_->MediaPlayer1->EnabledButtons().empty());
        EXPECT_EQ(ReadAll(path), before);
    }
}

TEST_F(RecorderWindow, ANewRecordingIsNeverSavedOntoTheScratchOrWorkFile) {
    const struct {
        const char* target;
        bool saveAs;
    } cases[] = {{"MyNoName.wav", false},
                 {"MyNoName.wav", true},
                 {"MyTemp.wav", false},
                 {"MyTemp.wav", true},
                 {"sub/../MyNoName.wav", false}};
    fs::create_directories(Home() + "sub");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.target) + (c.saveAs ? " (Save As)" : " (Save)"));
        New({"8000", false, true});
        // Sound in the scratch file, as a recording leaves it.
        form_->MediaPlayer1->Close();
        ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quoted(Home() + "MyNoName.wav") +
                             " synth 0.3 sine 440")
                      .ExitCode,
                  0);
        ASSERT_TRUE(form_->MediaPlayer1->Open(form_->ScratchFile()));
        const Bytes recording = ReadAll(Home() + "MyNoName.wav");
        dialogs_->boxes.clear();
        dialogs_->saveAnswers = {QString::fromStdString(Home() + c.target)};
        dialogs_->answers = {MbResult::Yes, MbResult::Yes};
        (c.saveAs ? form_->miSaveAs : form_->miSave)->trigger();
        ASSERT_EQ(dialogs_->boxes.size(), 1);
        EXPECT_TRUE(dialogs_->boxes[0].text.contains("recorder's own working file"))
            << dialogs_->boxes[0].text.toStdString();
        EXPECT_EQ(form_->CurrentFile(), form_->ScratchFile());
        EXPECT_EQ(ReadAll(Home() + "MyNoName.wav"), recording);
        EXPECT_TRUE(form_->MediaPlayer1->IsOpen());
    }
}

TEST_F(RecorderWithSound, ANamedDocumentsUnsavedSoundIsKeptWhenClosingDoesNotSaveIt) {
    const struct {
        const char* name;
        MbResult answer;
        bool readOnly;
        bool kept;
    } cases[] = {
        {"failing.wav", MbResult::Yes, true, true}, // the save fails: the sound is kept
        {"cancelled.wav", MbResult::Cancel, false, true},
        {"discarded.wav", MbResult::No, false, false}, // the user said so
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string doc = Home() + c.name;
        ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quoted(doc) + " trim 0 1").ExitCode, 0);
        const Bytes original = ReadAll(doc);
        form_ = std::make_unique<TfrmRecord>(nullptr, 0);
        form_->show();
        Open(doc);
        {
            TonePlayer tone(kToneHz);
            Record(100);
        }
        const Bytes recorded = ReadAll(Home() + "MyTemp.wav");
        ASSERT_GT(recorded.size(), original.size());
        if (c.readOnly) {
            chmod(doc.c_str(), 0444);
        }
        dialogs_->boxes.clear();
        dialogs_->answers = {c.answer};
        form_->close();
        chmod(doc.c_str(), 0644);

        EXPECT_EQ(ReadAll(doc), original);
        EXPECT_FALSE(fs::exists(Home() + "MyTemp.wav"));
        const std::string kept = Home() + fs::path(c.name).stem().string() + " (unsaved).wav";
        EXPECT_EQ(fs::exists(kept), c.kept);
        if (c.kept) {
            EXPECT_EQ(ReadAll(kept), recorded);
            EXPECT_TRUE(dialogs_->BoxTexts().back().contains(QString::fromStdString(kept)))
                << dialogs_->BoxTexts().back().toStdString();
        }
    }
}
