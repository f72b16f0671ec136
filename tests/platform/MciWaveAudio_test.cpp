#include "platform/MciWaveAudio.h"

#include <gtest/gtest.h>

#include "audio/WavFixtures.h"
#include "support/SoundFixtures.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace platform;
using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kToneHz = 1234.5; // a gap of any common buffer length moves its phase

// Collects the device's notifications (they come from its worker threads).
struct Notifications {
    std::atomic<int> count{0};
    std::atomic<int> last{0};
    MciWaveAudio::Notify Sink() {
        return [this](MciNotify n) {
            last = static_cast<int>(n);
            ++count;
        };
    }
    bool WaitFor(int n, std::chrono::milliseconds limit) const {
        return testsupport::WaitUntil([&] { return count.load() >= n; }, limit);
    }
};

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Records for about ms into the open device; returns the time it really recorded.
int64_t RecordFor(MciWaveAudio& device, std::optional<int64_t> from, int ms,
                  Notifications* notes = nullptr) {
    EXPECT_TRUE(device.Record(from, notes ? notes->Sink() : MciWaveAudio::Notify{}))
        << device.LastError();
    const auto start = Clock::now(); // the capture runs once Record returns
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const int64_t elapsed = MsSince(start);
    EXPECT_TRUE(device.Stop()) << device.LastError();
    return elapsed;
}

class MciRecording : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_SOUND_SERVER(); }
    ScratchFolder folder_;
};

struct Format {
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
};

} // namespace

TEST(WavLayout, ReadsPcmFilesAndRefusesWhatTheDeviceCannotPlay) {
    ScratchFolder folder;
    const std::string empty = folder.File("empty.wav");
    ASSERT_TRUE(WriteEmptyWav(empty, 2, 44100, 16));
    std::string error;
    auto layout = ReadWavLayout(empty, error);
    ASSERT_TRUE(layout) << error;
    EXPECT_EQ(layout->dataOffset, 44u);
    EXPECT_EQ(layout->dataBytes, 0u);
    EXPECT_TRUE(layout->dataIsLast);
    EXPECT_EQ(RunCommand("soxi " + Quoted(empty)).ExitCode, 0);

    // An odd LIST chunk before the data is padded; a data size beyond the file (a cut-off
    // recording) is taken as far as the file goes, in whole frames.
    Bytes bytes = ReadAll(empty);
    bytes.resize(36);
    const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    bytes.insert(bytes.end(), list.begin(), list.end());
    const Bytes data = {'d', 'a', 't', 'a', 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4, 5, 6};
    bytes.insert(bytes.end(), data.begin(), data.end());
    folder.Write("cut.wav", bytes);
    layout = ReadWavLayout(folder.File("cut.wav"), error);
    ASSERT_TRUE(layout) << error;
    EXPECT_EQ(layout->dataOffset, 56u);
    EXPECT_EQ(layout->dataBytes, 4u);

    const struct {
        const char* name;
        std::string command;
    } refused[] = {
        {"ima.wav", "sox -n -r 8000 -c 1 -e ima-adpcm %s synth 0.2 sine 440"},
        {"float.wav", "sox -n -r 8000 -c 1 -e float -b 32 %s synth 0.2 sine 440"},
        {"24bit.wav", "sox -n -r 8000 -c 1 -b 24 %s synth 0.2 sine 440"},
        {"text.wav", "echo 'not a sound' > %s"},
    };
    for (const auto& c : refused) {
        std::string command = c.command;
        command.replace(command.find("%s"), 2, Quoted(folder.File(c.name)));
        ASSERT_EQ(RunCommand(command).ExitCode, 0) << command;
        error.clear();
        EXPECT_FALSE(ReadWavLayout(folder.File(c.name), error)) << c.name;
        EXPECT_NE(error.find(c.name), std::string::npos) << error;
    }
    MciWaveAudio device;
    EXPECT_FALSE(device.Open(folder.File("missing.wav")));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Mode(), WaveAudioMode::NotReady);
}

TEST_F(MciRecording, RecordsTheToneWithoutGapsForTheTimeItRanInEveryFormat) {
    MonitorAsDefaultSource monitor;
    TonePlayer tone(kToneHz);
    const Format formats[] = {{2, 44100, 16}, {1, 48000, 16}, {1, 8000, 8}, {2, 22050, 8}};
    for (const Format& f : formats) {
        SCOPED_TRACE(std::to_string(f.channels) + "ch " + std::to_string(f.rate) + " Hz " +
                     std::to_string(f.bits) + " bit");
        const std::string path = folder_.File("rec" + std::to_string(f.rate) + ".wav");
        ASSERT_TRUE(WriteEmptyWav(path, f.channels, f.rate, f.bits));
        MciWaveAudio device;
        ASSERT_TRUE(device.Open(path)) << device.LastError();
        EXPECT_EQ(device.LengthMs(), 0);
        Notifications notes;
        const int64_t elapsed = RecordFor(device, std::nullopt, 1200, &notes);
        EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);
        EXPECT_TRUE(notes.WaitFor(1, std::chrono::seconds(1)));
        EXPECT_EQ(notes.last.load(), static_cast<int>(MciNotify::Successful));
        EXPECT_NEAR(static_cast<double>(device.LengthMs()), static_cast<double>(elapsed), 50);
        EXPECT_EQ(device.LastRecordingStatus().overflows, 0u);

        const SoxSound sound = ReadWithSox(path);
        ASSERT_EQ(sound.rate, static_cast<int>(f.rate));
        EXPECT_NEAR(static_cast<double>(sound.samples.size()) * 1000 / f.rate,
                    static_cast<double>(elapsed), 50);
        const ToneTrack track =
            TrackTone(sound.samples, sound.rate, kToneHz, static_cast<size_t>(sound.rate / 50));
        ASSERT_GT(track.phase.size(), 40u);
        for (size_t i = 1; i < track.amplitude.size(); ++i) {
            EXPECT_GT(track.amplitude[i], 0.3) << "window " << i;
        }
        EXPECT_LT(MaxPhaseStep(track, 1, track.phase.size()), 0.15);
    }
}

TEST_F(MciRecording, InsertsInTheMiddleThroughOneRenameAndAppendsAfterIt) {
    const std::string path = folder_.File("doc.wav");
    ASSERT_EQ(RunCommand("sox -n -r 44100 -c 1 -b 16 " + Quoted(path) + " trim 0 2").ExitCode, 0);
    const struct stat before = [&] {
        struct stat st {};
        stat(path.c_str(), &st);
        return st;
    }();
    MonitorAsDefaultSource monitor;
    TonePlayer tone(kToneHz);
    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path)) << device.LastError();
    const int64_t elapsed = RecordFor(device, 1000, 800);
    EXPECT_NEAR(static_cast<double>(device.LengthMs()), static_cast<double>(2000 + elapsed), 50);
    EXPECT_NEAR(static_cast<double>(device.PositionMs()), static_cast<double>(1000 + elapsed), 50);
    struct stat after {};
    stat(path.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino) << "the file was rewritten in place";
    EXPECT_FALSE(std::filesystem::exists(path + ".recording"));

    // Silence, the tone from 1 s for as long as it was recorded, silence again.
    const SoxSound sound = ReadWithSox(path);
    const ToneTrack track = TrackTone(sound.samples, 44100, kToneHz, 441);
    const size_t toneFrom = 100;
    const size_t toneTo = static_cast<size_t>(100 + (device.LengthMs() - 2000) / 10);
    EXPECT_LT(track.amplitude[toneFrom - 3], 0.01);
    EXPECT_GT(track.amplitude[toneFrom + 3], 0.3);
    EXPECT_GT(track.amplitude[toneTo - 6], 0.3);
    EXPECT_LT(track.amplitude[toneTo + 6], 0.01);
    EXPECT_LT(MaxPhaseStep(track, toneFrom + 2, toneTo - 6), 0.15);

    device.SeekToEnd();
    const int64_t more = RecordFor(device, std::nullopt, 400);
    EXPECT_NEAR(static_cast<double>(device.LengthMs()), static_cast<double>(2000 + elapsed + more),
                80);
    EXPECT_NEAR(static_cast<double>(ReadWithSox(path).samples.size()) / 44.1,
                static_cast<double>(2000 + elapsed + more), 80);
}

// Recording at the length the device reports (what the recorder's track bar at its end
// gives) appends after the last frame, also when the sound is not a whole number of
// milliseconds long: the old sound stays whole in front of the new one.
TEST_F(MciRecording, RecordingAtTheReportedLengthKeepsEveryOldFrameInFront) {
    const struct {
        const char* name;
        int rate;
        int channels;
        int bits;
        int frames;
    } cases[] = {
        {"8k-mono.wav", 8000, 1, 16, 2001},        // 250.125 ms
        {"44k-stereo.wav", 44100, 2, 16, 44143},   // 1000.95 ms
        {"22k-mono-8bit.wav", 22050, 1, 8, 11030}, // 500.23 ms
    };
    MonitorAsDefaultSource monitor;
    TonePlayer tone(kToneHz);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder_.File(c.name);
        ASSERT_EQ(RunCommand("sox -r " + std::to_string(c.rate) + " -n -c " +
                             std::to_string(c.channels) + " -b " + std::to_string(c.bits) + " " +
                             Quoted(path) + " synth " + std::to_string(c.frames) +
                             "s sine 300 vol 0.5")
                      .ExitCode,
                  0);
        std::string error;
        const auto layout = ReadWavLayout(path, error);
        ASSERT_TRUE(layout) << error;
        ASSERT_EQ(layout->dataBytes, static_cast<uint64_t>(c.frames) * layout->BlockAlign());
        const Bytes before = ReadAll(path);
        const Bytes oldSound(
            before.begin() + static_cast<std::ptrdiff_t>(layout->dataOffset),
            before.begin() + static_cast<std::ptrdiff_t>(layout->dataOffset + layout->dataBytes));

        MciWaveAudio device;
        ASSERT_TRUE(device.Open(path)) << device.LastError();
        RecordFor(device, device.LengthMs(), 200);
        device.Close();

        const Bytes after = ReadAll(path);
        ASSERT_GT(after.size(), before.size());
        EXPECT_TRUE(std::equal(oldSound.begin(), oldSound.end(),
                               after.begin() + static_cast<std::ptrdiff_t>(layout->dataOffset)))
            << "the old sound's last frames moved behind the new sound";
    }
}

// A note chunk before the sound and a tag chunk after it (both odd-sized) survive an
// insertion and an append after it, and the sizes describe the whole file.
TEST_F(MciRecording, InsertionAndAppendKeepTheDocumentsOtherChunks) {
    const Bytes tags = {'t', 'a', 'g', 's', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    const Bytes doc = audio::test::WavBuilder()
                          .RiffHeader()
                          .Chunk("fmt ", audio::test::PcmFormat(1, 44100, 16))
                          .Chunk("note", {'h', 'e', 'l', 'l', 'o'})
                          .U8(0)
                          .Chunk("data", Bytes(2 * 44100 * 2, 0)) // 2 s of silence
                          .Bytes(tags)
                          .FixRiffSize()
                          .bytes();
    const std::string path = folder_.Write("tagged.wav", doc);

    MonitorAsDefaultSource monitor;
    TonePlayer tone(kToneHz);
    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path)) << device.LastError();
    const int64_t inserted = RecordFor(device, 1000, 500);
    device.SeekToEnd();
    const int64_t appended = RecordFor(device, std::nullopt, 300);

    const Bytes after = ReadAll(path);
    ASSERT_GT(after.size(), doc.size());
    EXPECT_EQ(Le32(after, 4), after.size() - 8);
    EXPECT_TRUE(std::equal(doc.begin() + 8, doc.begin() + 50, after.begin() + 8))
        << "the format and the note chunk";
    EXPECT_TRUE(std::equal(tags.begin(), tags.end(), after.end() - 12)) << "the tag chunk";
    const double expectedMs = static_cast<double>(2000 + inserted + appended);
    EXPECT_NEAR(static_cast<double>(Le32(after, 54)) / 88.2, expectedMs, 80);
    EXPECT_NEAR(static_cast<double>(device.LengthMs()), expectedMs, 80);
    EXPECT_NEAR(static_cast<double>(ReadWithSox(path).samples.size()) / 44.1, expectedMs, 80);
}

TEST_F(MciRecording, PlaysToTheEndOrUntilStopped) {
    const std::string path = folder_.File("short.wav");
    ASSERT_EQ(
        RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quoted(path) + " synth 0.4 sine 500").ExitCode,
        0);
    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path));
    EXPECT_EQ(device.LengthMs(), 400);
    Notifications notes;
    const auto start = Clock::now();
    ASSERT_TRUE(device.Play(0, notes.Sink())) << device.LastError();
    EXPECT_EQ(device.Mode(), WaveAudioMode::Playing);
    ASSERT_TRUE(notes.WaitFor(1, std::chrono::seconds(3)));
    EXPECT_GE(MsSince(start), 350);
    EXPECT_EQ(notes.last.load(), static_cast<int>(MciNotify::Successful));
    EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);

    ASSERT_TRUE(device.Play(0, notes.Sink()));
    device.Stop();
    EXPECT_TRUE(notes.WaitFor(2, std::chrono::seconds(1)));
    EXPECT_EQ(notes.last.load(), static_cast<int>(MciNotify::Aborted));
    EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);
}

namespace {

// Run as a child of the kill test: records into the file named by the variable until killed.
const bool recordingChild = [] {
    const char* path = std::getenv("VELLORINE_TEST_RECORD_UNTIL_KILLED");
    if (path == nullptr) {
        return false;
    }
    MciWaveAudio device;
    if (!device.Open(path) || !device.Record(std::nullopt)) {
        std::_Exit(3);
    }
    std::this_thread::sleep_for(std::chrono::seconds(60));
    std::_Exit(4);
}();

// The data size the header declares and the bytes the file really holds after the header.
std::pair<uint64_t, uint64_t> DeclaredAndPresent(const std::string& path) {
    const Bytes bytes = ReadAll(path);
    if (bytes.size() < 44) {
        return {0, 0};
    }
    const uint64_t declared = testsupport::Le32(bytes, 40);
    return {declared, bytes.size() - 44};
}

} // namespace

TEST_F(MciRecording, AKilledProgramLeavesAValidFileWithWhatItRecorded) {
    const std::string path = folder_.File("MyNoName.wav");
    ASSERT_TRUE(WriteEmptyWav(path, 2, 44100, 16));
    TonePlayer tone(kToneHz); // keeps the sink handing sound over in small pieces
    BackgroundCommand child("VELLORINE_TEST_RECORD_UNTIL_KILLED=" + Quoted(path) + " exec " +
                            Quoted(std::filesystem::read_symlink("/proc/self/exe").string()));
    constexpr uint64_t kSecond = 44100 * 4;
    testsupport::WaitUntil([&] { return std::filesystem::file_size(path) >= 44 + 2 * kSecond; },
                           std::chrono::seconds(15));
    child.Kill(SIGKILL);
    const auto [declared, present] = DeclaredAndPresent(path);
    EXPECT_GE(present, 2 * kSecond);
    EXPECT_LE(declared, present);
    EXPECT_GE(declared + kSecond, present) << "the header is more than a second behind";
    EXPECT_EQ(RunCommand("soxi " + Quoted(path)).ExitCode, 0);

    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path)) << device.LastError();
    EXPECT_EQ(device.LengthMs(), static_cast<int64_t>(declared * 1000 / (44100 * 4)));
}

TEST_F(MciRecording, AFullDiskEndsTheRecordingAndKeepsWhatFitted) {
    const std::string path = folder_.File("full.wav");
    ASSERT_TRUE(WriteEmptyWav(path, 1, 8000, 16));
    const std::string doc = folder_.File("doc.wav");
    ASSERT_EQ(RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quoted(doc) + " synth 1 sine 300").ExitCode,
              0);
    const Bytes original = ReadAll(doc);
    TonePlayer tone(kToneHz); // keeps the sink handing sound over in small pieces
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 44 + 8000; // half a second of 8 kHz mono 16-bit
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path));
    Notifications notes;
    ASSERT_TRUE(device.Record(std::nullopt, notes.Sink())) << device.LastError();
    const bool ended = notes.WaitFor(1, std::chrono::seconds(4));
    EXPECT_TRUE(ended);
    EXPECT_EQ(notes.last.load(), static_cast<int>(MciNotify::Failure));
    EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);
    EXPECT_NE(device.LastError().find("full.wav"), std::string::npos) << device.LastError();

    // An insertion that does not fit leaves the document as it was.
    MciWaveAudio other;
    ASSERT_TRUE(other.Open(doc));
    Notifications insertNotes;
    const bool started = other.Record(500, insertNotes.Sink());
    if (started) {
        insertNotes.WaitFor(1, std::chrono::seconds(4));
        other.Stop();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_EQ(DeclaredAndPresent(path), std::make_pair(uint64_t{8000}, uint64_t{8000}));
    EXPECT_EQ(device.LengthMs(), 500);
    EXPECT_EQ(ReadAll(doc), original);
    EXPECT_FALSE(std::filesystem::exists(doc + ".recording"));
    EXPECT_EQ(other.LengthMs(), 1000);
}

TEST_F(MciRecording, NoServerOrAServerGoneMidwayIsReportedAndTheSoundKept) {
    const std::string path = folder_.File("gone.wav");
    ASSERT_TRUE(WriteEmptyWav(path, 2, 44100, 16));
    {
        ScopedEnv nowhere("PULSE_SERVER", ("unix:" + folder_.File("no-server")).c_str());
        MciWaveAudio device;
        ASSERT_TRUE(device.Open(path));
        EXPECT_FALSE(device.Record(std::nullopt));
        EXPECT_NE(device.LastError().find("No sound server"), std::string::npos);
        EXPECT_FALSE(device.Play(0));
        EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);
    }
    EXPECT_EQ(ReadAll(path).size(), 44u);

    ScratchFolder serverFolder;
    PrivateSoundServer server(serverFolder.Path());
    MciWaveAudio device;
    ASSERT_TRUE(device.Open(path));
    Notifications notes;
    ASSERT_TRUE(device.Record(std::nullopt, notes.Sink())) << device.LastError();
    // Killed once sound has reached the file (an idle sink's monitor can take two seconds).
    ASSERT_TRUE(testsupport::WaitUntil([&] { return DeclaredAndPresent(path).second > 0; },
                                       std::chrono::seconds(10)));
    server.Kill();
    ASSERT_TRUE(notes.WaitFor(1, std::chrono::seconds(5)));
    EXPECT_EQ(notes.last.load(), static_cast<int>(MciNotify::Failure));
    EXPECT_NE(device.LastError().find("sound server"), std::string::npos) << device.LastError();
    EXPECT_EQ(device.Mode(), WaveAudioMode::Stopped);
    const auto [declared, present] = DeclaredAndPresent(path);
    EXPECT_EQ(declared, present);
    EXPECT_GT(declared, 0u);
    EXPECT_EQ(device.LengthMs(), static_cast<int64_t>(declared * 1000 / (44100 * 4)));
    EXPECT_TRUE(device.Stop());
}
