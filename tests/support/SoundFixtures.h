#pragma once
// Real sound for the recording tests: a tone played into the test server's sink, that
// sink's monitor made the default source, and sox as the independent reader of what was
// recorded. Everything goes through the command-line tools of the sound server and sox.
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// A shell command line running in the background in its own process group until the
// object goes (the whole group is killed and reaped).
class BackgroundCommand {
public:
    explicit BackgroundCommand(const std::string& command);
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;
    bool Running() const { return pid_ > 0; }
    // Kills the group with signal and reaps it.
    void Kill(int signal);

private:
    pid_t pid_ = -1;
};

// A sound server of the test's own with one null sink ("private"), used by this process
// (PULSE_SERVER) while the object lives; the test may kill it to see a server go away.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const std::string& folder);
    void Kill();

private:
    std::string socket_;
    BackgroundCommand daemon_;
    ScopedEnv env_;
};

// The sink the tests play into: "vellorine_null" when the server has it, else the first.
std::string TestSinkName();

// Makes the test sink's monitor the default source while alive; restores the old default.
class MonitorAsDefaultSource {
public:
    MonitorAsDefaultSource();
    ~MonitorAsDefaultSource();
    MonitorAsDefaultSource(const MonitorAsDefaultSource&) = delete;
    MonitorAsDefaultSource& operator=(const MonitorAsDefaultSource&) = delete;

private:
    std::string old_;
};

// A sine tone of freq Hz at half scale, 44.1 kHz mono, played into the test sink for up to
// seconds while alive. The constructor returns once the tone is flowing.
class TonePlayer {
public:
    explicit TonePlayer(double freq, int seconds = 60);

private:
    BackgroundCommand command_;
};

// The first channel of a sound file as samples in -1..1 at the file's own rate, read by sox.
struct SoxSound {
    int rate = 0;
    std::vector<double> samples;
};
SoxSound ReadWithSox(const std::string& path);

// How a tone of freq Hz runs through samples, window by window: its amplitude and its
// phase relative to a reference that never stops. A continuous recording has a steady
// phase; a gap or a repeat moves it.
struct ToneTrack {
    std::vector<double> amplitude;
    std::vector<double> phase;
};
ToneTrack TrackTone(const std::vector<double>& samples, int rate, double freq, size_t window);
// The largest change of phase (radians, wrapped into -pi..pi) between neighbouring windows
// from window first to window last (exclusive).
double MaxPhaseStep(const ToneTrack& track, size_t first, size_t last);

} // namespace testsupport
