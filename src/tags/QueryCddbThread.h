#pragma once
// The worker of one CDDB lookup: it sets the CD layer's CDDB options from the settings,
// asks the server for the disc behind a CD handle, reads the records of the matches and
// hands what they say to the window that waits for it.
//
// Threads and ownership:
// - Start() is called on the GUI thread; the thread runs at once and deletes itself when
//   it ends. Nobody holds a pointer to it; the window and the thread share only a
//   TCddbLookupState.
// - When it ends the thread posts WM_CDDB to the state's window: wParam 6 = no match
//   (lParam = the CD layer's error code, GetAspiLibError), wParam 7 = finished, with the
//   result stored in the state before the post. It posts only while the window is still
//   waiting (checked under the state's lock), so a window that called Abandon() never
//   receives a message, and nothing it was sent can outlive it.
// - Abandon() also raises the cancel flag: a transfer in progress ends within ~50 ms
//   and the thread ends by itself. Threads are never killed.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Messages.h"
#include "platform/Thread.h"
#include "settings/Global.h"
#include "tags/CddbRecord.h"

namespace tags {

constexpr std::intptr_t CddbNoMatch = 6;
constexpr std::intptr_t CddbFinished = 7;

struct TCddbLookupState {
    explicit TCddbLookupState(platform::HWND waitingWindow) : window(waitingWindow) {}
    // Called by the window (GUI thread) when it stops waiting: Stop, close, destruction.
    void Abandon();
    bool Abandoned() const { return cancelled.load(); }

    std::atomic<bool> cancelled{false};
    std::mutex mutex;      // guards window and result
    platform::HWND window; // null once abandoned
    TCddbRecord result;    // what the lookup found, set before "finished" is posted
};

class TQueryCDDBThread : public platform::TThread {
public:
    // Starts a lookup of the tracks first..last of the disc behind cdHandle.
    static void Start(std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                      const settings::TQueryCDDB& options, std::shared_ptr<TCddbLookupState> state);
    // Lookup threads still running (tests, benchmarks and the end of the program wait).
    static int Running();
    static bool WaitForAll(std::chrono::milliseconds timeout);

    // The address the hello gives by default: the login name at the host name.
    static std::string UserEmail();
    // The address the hello gives: the user's own once set, else UserEmail().
    static std::string HelloEmail(const std::string& userSet);
    // QueryCDDB/Port as a number; 80 when it is not a port number.
    static int ProxyPort(const std::string& text);

    ~TQueryCDDBThread() override;

protected:
    void Execute() override;

private:
    TQueryCDDBThread(std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                     const settings::TQueryCDDB& options, std::shared_ptr<TCddbLookupState> state);
    void SetOptions() const;
    void Lookup();
    void Post(std::intptr_t wParam, std::intptr_t lParam, TCddbRecord result = {});

    std::uint8_t FirstTrack;
    std::uint8_t LastTrack;
    int CDHandle;
    settings::TQueryCDDB Options; // a copy taken on the GUI thread
    std::string Email;            // the same
    std::shared_ptr<TCddbLookupState> State;
};

} // namespace tags
