#pragma once
// The wave-audio device a media-player control drives: it works on one PCM WAV file on
// disk, plays it from a position through the default sink, and records from the default
// source, inserting the new sound at a position.
//
// Contract:
// - Owned and called by one thread (the GUI thread); nothing here touches Qt.
// - Play and Record run on worker threads of their own. The notification given to them is
//   called once, from such a worker, when the play or recording ends (Successful when it
//   ran to its end or was stopped and saved, Aborted when a play was stopped, Failure when
//   it ended by itself on an error, see LastError). It must not call back into the device;
//   it hands the news to its owner's thread.
// - Recording at the end of the file's sound (a new recording, or the position after the
//   last recording) appends to the file in place; its header is rewritten at least every
//   half second, so a program killed while recording leaves a valid WAV file holding what
//   was recorded up to then. Recording anywhere else writes the whole result to
//   "<file>.recording" beside it and replaces the file by one rename when the recording
//   ends, so the existing sound is never half overwritten; a failed insertion leaves the
//   file as it was.
// - Stop, Save and Close end a recording and wait until its sound is in the file.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/WaveIn.h"

namespace platform {

enum class WaveAudioMode {
    NotReady = 524,
    Stopped = 525,
    Playing = 526,
    Recording = 527,
    Open = 530
};
enum class MciNotify { Successful = 1, Aborted = 4, Failure = 8 };

// Where the sound of a PCM WAV file lies and in which format.
struct WavLayout {
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    uint64_t dataOffset = 0; // first byte of the data chunk's contents
    uint64_t dataBytes = 0;  // whole frames only
    bool dataIsLast = false; // the data chunk ends the file: sound can be appended in place
    // The chunks after the data chunk (a tag, cue points...), which an insertion carries over.
    uint64_t trailingOffset = 0;
    uint64_t trailingBytes = 0;
    uint32_t BlockAlign() const { return channels * (bits / 8u); }
    uint32_t BytesPerSecond() const { return rate * BlockAlign(); }
};

// Reads the layout of a PCM WAV file (8 or 16 bits, 1 or 2 channels). A data size larger
// than the file (a recording that was cut off) is taken as far as the file goes. Empty
// with error set when the file cannot be read or is not such a file.
std::optional<WavLayout> ReadWavLayout(const std::string& path, std::string& error);
// Writes the 44-byte header of an empty PCM WAV file, replacing the file.
bool WriteEmptyWav(const std::string& path, uint16_t channels, uint32_t rate, uint16_t bits);

class MciWaveAudio {
public:
    using Notify = std::function<void(MciNotify)>;

    MciWaveAudio();
    ~MciWaveAudio();
    MciWaveAudio(const MciWaveAudio&) = delete;
    MciWaveAudio& operator=(const MciWaveAudio&) = delete;

    // Opens a PCM WAV file (closing what was open); position 0. False with LastError set.
    bool Open(const std::string& path);
    // Ends any play or recording (a recording is saved first) and forgets the file.
    void Close();
    bool IsOpen() const { return !path_.empty(); }
    const std::string& FileName() const { return path_; }

    WaveAudioMode Mode();
    // Length of the sound in milliseconds (growing while recording); 0 when nothing is open.
    int64_t LengthMs();
    int64_t PositionMs();

    // Plays from fromMs (or the current position) to the end through the default sink.
    bool Play(std::optional<int64_t> fromMs, Notify notify = {});
    // Records from the default source, inserting at fromMs (or the current position).
    bool Record(std::optional<int64_t> fromMs, Notify notify = {});
    // Ends a play, or ends and saves a recording. False when the recording's sound could
    // not be written (LastError tells why).
    bool Stop();
    // Puts everything recorded into the file (ends a recording). False as for Stop.
    bool Save();
    void SeekToStart();
    void SeekToEnd();

    // Why the last command failed, or why a play or recording ended by itself.
    const std::string& LastError() {
        Reap();
        return error_;
    }
    // Data lost during the last recording (holes in the server's stream, no free buffer).
    WaveInStatus LastRecordingStatus() const { return lastRecording_; }

private:
    class Player;
    class Recorder;

    // Collects a play or recording that ended by itself.
    void Reap();
    bool EndRecording();
    void EndPlay();
    uint64_t BytesAt(int64_t ms) const;
    int64_t MsOf(uint64_t bytes) const;

    std::string path_;
    WavLayout layout_;
    uint64_t position_ = 0; // bytes into the sound
    std::string error_;
    WaveInStatus lastRecording_;
    std::unique_ptr<Player> player_;
    std::unique_ptr<Recorder> recorder_;
};

} // namespace platform
