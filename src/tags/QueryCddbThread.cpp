#include "tags/QueryCddbThread.h"

#include "cd/akrip32.h"
#include "settings/ProcessInfo.h"

#include <array>
#include <condition_variable>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace tags {

namespace {

constexpr int RecordBufferSize = 32000;

std::mutex liveMutex;
std::condition_variable liveChanged;
int live = 0;

// A lookup still finishing its last transfer when the program ends gets a moment to
// end by itself before the libraries it uses go away.
struct WaitAtExit {
    ~WaitAtExit() { TQueryCDDBThread::WaitForAll(std::chrono::seconds(2)); }
} waitAtExit;

} // namespace

void TCddbLookupState::Abandon() {
    std::lock_guard lock(mutex);
    cancelled = true;
    window = nullptr;
}

void TQueryCDDBThread::Start(std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                             const settings::TQueryCDDB& options,
                             std::shared_ptr<TCddbLookupState> state) {
    auto* thread = new TQueryCDDBThread(firstTrack, lastTrack, cdHandle, options, std::move(state));
    thread->SetFreeOnTerminate(true);
    thread->Resume(); // from here on the thread owns itself
}

TQueryCDDBThread::TQueryCDDBThread(std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                                   const settings::TQueryCDDB& options,
                                   std::shared_ptr<TCddbLookupState> state)
    : TThread(true), FirstTrack(firstTrack), LastTrack(lastTrack), CDHandle(cdHandle),
      Options(options), Email(HelloEmail(settings::Settings.Metadata.CddbEmail)),
      State(std::move(state)) {
    std::lock_guard lock(liveMutex);
    ++live;
}

TQueryCDDBThread::~TQueryCDDBThread() {
    std::lock_guard lock(liveMutex);
    --live;
    liveChanged.notify_all();
}

int TQueryCDDBThread::Running() {
    std::lock_guard lock(liveMutex);
    return live;
}

bool TQueryCDDBThread::WaitForAll(std::chrono::milliseconds timeout) {
    std::unique_lock lock(liveMutex);
    return liveChanged.wait_for(lock, timeout, [] { return live == 0; });
}

std::string TQueryCDDBThread::UserEmail() {
    std::string user;
    std::array<char, 1024> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        user = found->pw_name;
    } else if (const char* env = std::getenv("USER")) {
        user = env;
    }
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0') {
        std::snprintf(host.data(), host.size(), "localhost");
    }
    return (user.empty() ? "user" : user) + "@" + host.data();
}

std::string TQueryCDDBThread::HelloEmail(const std::string& userSet) {
    // The hello is a space-separated line: an address with blanks would break it.
    const bool usable = !userSet.empty() && userSet.find_first_of(" \t\r\n") == std::string::npos;
    return usable ? userSet : UserEmail();
}

int TQueryCDDBThread::ProxyPort(const std::string& text) {
    return settings::TQueryCDDB::PortOf(text);
}

void TQueryCDDBThread::SetOptions() const {
    cd::CDDBSetOption(cd::CDDB_OPT_SERVER, Options.Server.c_str(), 0);
    cd::CDDBSetOption(cd::CDDB_OPT_CGI, Options.Script.c_str(), 0);
    cd::CDDBSetOption(cd::CDDB_OPT_USER, Email.c_str(), 0);
    cd::CDDBSetOption(cd::CDDB_OPT_AGENT, "Vellorine 2.5", 0);
    cd::CDDBSetOption(cd::CDDB_OPT_TIMEOUT, "", 0);
    if (Options.UseProxy) {
        cd::CDDBSetOption(cd::CDDB_OPT_USEPROXY, "", 1);
        cd::CDDBSetOption(cd::CDDB_OPT_PROXYPORT, "", ProxyPort(Options.Port));
        cd::CDDBSetOption(cd::CDDB_OPT_PROXY, Options.ProxyAddress.c_str(), 0);
    } else {
        // Options are process-wide: a proxy chosen for an earlier lookup must not linger.
        cd::CDDBSetOption(cd::CDDB_OPT_USEPROXY, "", 0);
    }
}

void TQueryCDDBThread::Execute() {
    cd::CDDBSetCancelFlag(&State->cancelled);
    Lookup();
    cd::CDDBSetCancelFlag(nullptr);
}

void TQueryCDDBThread::Lookup() {
    std::array<cd::TCDDBQueryItem, cd::CDDBMaxMatches> matches{};
    cd::TCDDBQuery query{cd::CDDBMaxMatches, matches.data()};
    SetOptions();
    if (cd::CDDBQuery(CDHandle, query) != 1) {
        Post(CddbFinished, 0);
        return;
    }
    if (query.num < 1) {
        Post(CddbNoMatch, cd::GetAspiLibError());
        return;
    }
    const int tracks = LastTrack >= FirstTrack ? LastTrack - FirstTrack + 1 : 0;
    std::vector<char> buffer(RecordBufferSize);
    TCddbRecord result;
    for (std::uint32_t m = 0; m < query.num && !State->Abandoned(); ++m) {
        if (cd::CDDBGetDiskInfo(matches[m], buffer.data(), RecordBufferSize) != 1) {
            continue;
        }
        const TCddbRecord record = ParseCddbRecord(buffer.data(), tracks);
        result.Apply(record);
        if (record.HasTitles()) {
            break; // the first record with titles decides them
        }
    }
    Post(CddbFinished, 0, std::move(result));
}

void TQueryCDDBThread::Post(std::intptr_t wParam, std::intptr_t lParam, TCddbRecord result) {
    std::lock_guard lock(State->mutex);
    if (State->window == nullptr) {
        return; // the window stopped waiting: the result is dropped
    }
    State->result = std::move(result);
    platform::PostMessage(State->window, settings::WM_CDDB, wParam, lParam);
}

} // namespace tags
