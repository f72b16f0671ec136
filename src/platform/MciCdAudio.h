#pragma once
// The "cdaudio" media device: plays the tracks of an audio CD (or a disc image) through
// the sound output, with the classic MCI commands and their state rules.
//
// The device does not read the disc itself: the caller hands it a CdAudioSource at Open
// that knows the track starts and reads raw 2352-byte frames (16-bit stereo, 44 100 Hz).
// Positions are frames counted from the start of the disc's first track.
//
// Threads: every command is called from one thread (the window's). A play runs on the
// device's own thread, which reads frames from the source and queues them on the sound
// output; the source is used only by that thread while a play runs, and by the calling
// thread inside Open.
// Notification: a play asked to notify reports exactly once how it ended: successful
// (played to its end), superseded (another play or a seek replaced it), aborted (stop,
// close) or failure (a frame could not be read, the sound output refused). The callback
// runs on the device's thread for successful and failure, on the caller's thread for
// superseded and aborted; a window hands the result over to its own thread. The callback
// must not call the device.
// Pause drops what is queued on the sound output and remembers the first frame that was
// not yet heard; Resume plays on from there.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

using MCIERROR = std::uint32_t;
inline constexpr MCIERROR MCIERR_NOERROR = 0;
inline constexpr MCIERROR MCIERR_HARDWARE = 262;
inline constexpr MCIERROR MCIERR_DEVICE_NOT_READY = 276;
inline constexpr MCIERROR MCIERR_OUTOFRANGE = 282;
inline constexpr MCIERROR MCIERR_NONAPPLICABLE_FUNCTION = 302;
inline constexpr MCIERROR MCIERR_DEVICE_NOT_OPEN = 303; // our own: a command before Open

inline constexpr std::uint32_t MCI_NOTIFY_SUCCESSFUL = 0x0001;
inline constexpr std::uint32_t MCI_NOTIFY_SUPERSEDED = 0x0002;
inline constexpr std::uint32_t MCI_NOTIFY_ABORTED = 0x0004;
inline constexpr std::uint32_t MCI_NOTIFY_FAILURE = 0x0008;

enum class MciMode { NotOpen, Stopped, Playing, Paused };

// What the device plays from.
class CdAudioSource {
public:
    virtual ~CdAudioSource() = default;
    // Start frame of each track in order, then the frame after the last one (the
    // lead-out). False when the disc cannot be read.
    virtual bool TrackStarts(std::vector<std::uint32_t>& starts) = 0;
    // Reads count frames from frame first into out (count * 2352 bytes).
    virtual bool ReadFrames(std::uint32_t first, std::uint32_t count, std::uint8_t* out) = 0;
};

class MciCdAudio {
public:
    using NotifyFn = std::function<void(std::uint32_t result)>;

    // deviceId: the sound output to play on (WAVE_MAPPER: the user's default).
    explicit MciCdAudio(std::uint32_t deviceId = 0xFFFFFFFFu);
    ~MciCdAudio(); // stops and closes
    MciCdAudio(const MciCdAudio&) = delete;
    MciCdAudio& operator=(const MciCdAudio&) = delete;

    // Takes the source and reads its tracks; an open device is closed first.
    MCIERROR Open(std::unique_ptr<CdAudioSource> source);
    MCIERROR Close();
    MciMode Mode() const;
    int TrackCount() const;
    // Start frame of track n (1-based); the lead-out for TrackCount() + 1.
    std::uint32_t TrackPosition(int track) const;
    std::uint32_t Length() const; // the lead-out frame
    // The first frame not yet heard of the current play (or where a stopped play ended).
    std::uint32_t Position() const;

    // Plays frames [from, to); to past the disc's end means to its end. Replaces a play
    // in progress (superseding its notification). notify may be empty.
    MCIERROR Play(std::uint32_t from, std::uint32_t to, NotifyFn notify);
    MCIERROR Pause();  // Playing only
    MCIERROR Resume(); // Paused only
    MCIERROR Stop();   // any open mode; ends a play with "aborted"

private:
    struct Run;
    void EndRun(std::uint32_t result);
    void Worker(Run& run);
    bool PlayRun(Run& run);

    const std::uint32_t deviceId_;
    std::unique_ptr<CdAudioSource> source_;
    std::vector<std::uint32_t> starts_;
    std::unique_ptr<Run> run_;
    bool open_ = false;
    std::uint32_t lastPosition_ = 0;
};

} // namespace platform
