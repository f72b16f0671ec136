#include "cd/akrip32.h"

#include "cd/CdImageList.h"
#include "cd/CddbClient.h"
#include "cd/FaultySectors.h"

#include <cdio/logging.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace cd {

namespace {

constexpr int MaxHandles = 16;
constexpr std::uint32_t FramesPerChunk = 32;
constexpr std::uint8_t LeadOutTrack = 0xAA;
constexpr std::uint8_t AdrCurrentPosition = 0x10; // Q sub-channel mode 1, high nibble
constexpr std::uint8_t ControlDataTrack = 0x04;

std::atomic<int> lastError{ALERR_NOERROR};

// libcdio's own handler ends the process on an error-level message (it logs one for a
// malformed CUE sheet, for example); failures reach the caller as error codes instead.
void LogHandler(cdio_log_level_t level, const char* message) {
    if (level >= CDIO_LOG_ERROR) {
        std::fprintf(stderr, "libcdio: %s\n", message);
    }
}

// libcdio keeps global driver tables; opening, closing and enumerating go through
// this lock. Reads on an open drive take only that drive's lock.
std::mutex& LibraryMutex() {
    static std::mutex m;
    static const bool quiet = [] {
        cdio_log_set_handler(LogHandler);
        return true;
    }();
    (void)quiet;
    return m;
}

struct OpenDriveState {
    TDriveSpec location;
    CdioPtr cdio;
    std::mutex mutex;
    bool msfAddresses = false;
    std::string notice;                    // set by ReadTOC when tracks lie beyond an image's data
    std::shared_ptr<FaultySectors> faults; // images only, from the test environment
};

std::mutex problemMutex;
std::string lastOpenProblem;

void SetOpenProblem(std::string text) {
    std::lock_guard lock(problemMutex);
    lastOpenProblem = std::move(text);
}

std::mutex handlesMutex;
std::array<std::shared_ptr<OpenDriveState>, MaxHandles> handles;

int Fail(int code) {
    lastError = code;
    return 0;
}

int Succeed() {
    lastError = ALERR_NOERROR;
    return 1;
}

std::shared_ptr<OpenDriveState> Lookup(HCDROM handle) {
    if (handle < 1 || handle > MaxHandles) {
        return nullptr;
    }
    std::lock_guard lock(handlesMutex);
    return handles[static_cast<std::size_t>(handle - 1)];
}

std::vector<TDriveSpec> LockedListDrives() {
    std::lock_guard lock(LibraryMutex());
    return ListDrives();
}

CdioPtr LockedOpen(const TDriveSpec& location) {
    std::lock_guard lock(LibraryMutex());
    return OpenDrive(location);
}

void LockedClose(CdioPtr& cdio) {
    std::lock_guard lock(LibraryMutex());
    cdio.reset();
}

void CopyText(char* field, std::size_t fieldSize, const std::string& text) {
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(fieldSize, text.size()));
}

// The tracks of a disc as libcdio reports them: disc addresses count from 0 at the
// first track's index 1 position minus the 2-second pregap (LBA = LSN + 150).
struct DiscLayout {
    track_t first = 0;
    track_t last = 0;
    std::vector<lsn_t> starts; // one per track, then the lead-out
    std::vector<bool> dataTrack;
    int droppedTracks = 0; // listed by the cue sheet but beyond the image's data
};

// An image shorter than its cue sheet has its lead-out (the data's end) before the
// starts of the last tracks; those tracks are left out so no length comes out negative.
void DropTracksBeyondData(DiscLayout& layout) {
    const lsn_t leadOut = layout.starts.back();
    while (layout.starts.size() > 1 && layout.starts[layout.starts.size() - 2] >= leadOut) {
        layout.starts.erase(layout.starts.end() - 2);
        layout.dataTrack.pop_back();
        ++layout.droppedTracks;
    }
    layout.last = static_cast<track_t>(layout.first + layout.starts.size() - 2);
}

bool ReadLayout(CdIo_t* cdio, DiscLayout& layout) {
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
        first + count - 1 > 99) {
        return false;
    }
    layout.first = first;
    layout.last = static_cast<track_t>(first + count - 1);
    layout.starts.clear();
    layout.dataTrack.clear();
    for (track_t t = first; t <= layout.last; ++t) {
        const lsn_t lsn = cdio_get_track_lsn(cdio, t);
        if (lsn == CDIO_INVALID_LSN) {
            return false;
        }
        layout.starts.push_back(lsn);
        layout.dataTrack.push_back(cdio_get_track_format(cdio, t) != TRACK_FORMAT_AUDIO);
    }
    const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (leadOut == CDIO_INVALID_LSN) {
        return false;
    }
    layout.starts.push_back(leadOut);
    DropTracksBeyondData(layout);
    return layout.starts.size() > 1;
}

std::string NoticeFor(const TDriveSpec& drive, const DiscLayout& layout) {
    if (layout.droppedTracks == 0) {
        return {};
    }
    return "The disc image \"" + drive.path + "\" ends before its last " +
           (layout.droppedTracks == 1 ? std::string("track")
                                      : std::to_string(layout.droppedTracks) + " tracks") +
           ": only tracks " + std::to_string(layout.first) + " to " + std::to_string(layout.last) +
           " are listed.";
}

void FillAddress(std::uint8_t* addr, lsn_t lsn, bool msf) {
    if (msf) {
        const lsn_t lba = lsn + CDIO_PREGAP_SECTORS;
        addr[0] = 0;
        addr[1] = static_cast<std::uint8_t>(lba / (60 * 75));
        addr[2] = static_cast<std::uint8_t>((lba / 75) % 60);
        addr[3] = static_cast<std::uint8_t>(lba % 75);
    } else {
        const auto v = static_cast<std::uint32_t>(lsn); // big-endian, as drives report it
        addr[0] = static_cast<std::uint8_t>(v >> 24);
        addr[1] = static_cast<std::uint8_t>(v >> 16);
        addr[2] = static_cast<std::uint8_t>(v >> 8);
        addr[3] = static_cast<std::uint8_t>(v);
    }
}

void FillEntry(TTOCEntry& entry, std::uint8_t trackNumber, lsn_t lsn, bool data, bool msf) {
    entry = TTOCEntry{};
    entry.adr = static_cast<std::uint8_t>(AdrCurrentPosition | (data ? ControlDataTrack : 0));
    entry.trackNumber = trackNumber;
    FillAddress(entry.addr, lsn, msf);
}

void FillTOC(const DiscLayout& layout, bool msf, TTOC& toc) {
    toc = TTOC{};
    toc.firstTrack = layout.first;
    toc.lastTrack = layout.last;
    const std::size_t tracks = layout.starts.size() - 1;
    for (std::size_t i = 0; i < tracks; ++i) {
        const auto number = static_cast<std::uint8_t>(layout.first + i);
        FillEntry(toc.tracks[number - 1], number, layout.starts[i], layout.dataTrack[i], msf);
    }
    FillEntry(toc.tracks[layout.last], LeadOutTrack, layout.starts.back(), false, msf);
    // Data length as drives report it: everything after the length field itself.
    const std::size_t length = 2 + 8 * (tracks + 1);
    toc.tocLen[0] = static_cast<std::uint8_t>(length >> 8);
    toc.tocLen[1] = static_cast<std::uint8_t>(length);
}

int DigitSum(std::int64_t n) {
    int sum = 0;
    for (; n > 0; n /= 10) {
        sum += static_cast<int>(n % 10);
    }
    return sum;
}

std::uint32_t CddbDiscId(const DiscLayout& layout) {
    return CddbDiscIdOfStarts(
        std::vector<std::int64_t>(layout.starts.begin(), layout.starts.end()));
}

// Opens the entry of the drive list at that position for a short look.
CdioPtr OpenDriveAt(int driveIndex) {
    if (driveIndex < 0) {
        return nullptr;
    }
    const std::vector<TDriveSpec> drives = LockedListDrives();
    if (static_cast<std::size_t>(driveIndex) >= drives.size()) {
        return nullptr;
    }
    return LockedOpen(drives[static_cast<std::size_t>(driveIndex)]);
}

bool LayoutOfDrive(int driveIndex, DiscLayout& layout) {
    CdioPtr cdio = OpenDriveAt(driveIndex);
    if (!cdio) {
        return false;
    }
    const bool ok = ReadLayout(cdio.get(), layout);
    LockedClose(cdio);
    return ok;
}

// A physical drive's disc may have changed since the handle was opened, and libcdio
// keeps the TOC it read first; reopening reads the current one.
bool RefreshPhysicalDrive(OpenDriveState& drive) {
    if (drive.location.isImage) {
        return true;
    }
    LockedClose(drive.cdio);
    drive.cdio = LockedOpen(drive.location);
    return drive.cdio != nullptr;
}

// Disc address of a frame counted from the first track's start (negative: before it);
// false when the span [frame, frame + count) does not lie between the disc's first sector
// and the lead-out.
bool DiscAddressOf(CdIo_t* cdio, std::int32_t frame, std::uint32_t count, lsn_t& lsn) {
    const track_t first = cdio_get_first_track_num(cdio);
    if (first == CDIO_INVALID_TRACK) {
        return false;
    }
    const lsn_t base = cdio_get_track_lsn(cdio, first);
    const lsn_t end = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (base == CDIO_INVALID_LSN || end == CDIO_INVALID_LSN) {
        return false;
    }
    const std::int64_t start = static_cast<std::int64_t>(base) + frame;
    if (start < 0 || start + count > static_cast<std::int64_t>(end)) {
        return false;
    }
    lsn = static_cast<lsn_t>(start);
    return true;
}

bool ReadAudio(CdIo_t* cdio, lsn_t lsn, std::uint32_t frames, std::uint8_t* out) {
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, FramesPerChunk);
        if (cdio_read_audio_sectors(cdio, out, lsn, n) != DRIVER_OP_SUCCESS) {
            return false;
        }
        lsn += static_cast<lsn_t>(n);
        out += static_cast<std::size_t>(n) * CDFrameBytes;
        frames -= n;
    }
    return true;
}

// Process-wide CDDB options; each query works on a copy.
std::mutex cddbMutex;
TCddbSettings cddbSettings;
thread_local const std::atomic<bool>* cddbCancel = nullptr;

TCddbSettings CddbSettingsNow() {
    std::lock_guard lock(cddbMutex);
    return cddbSettings;
}

TCddbDisc CddbDiscOf(const DiscLayout& layout) {
    TCddbDisc disc;
    disc.discId = CddbDiscId(layout);
    for (std::size_t i = 0; i + 1 < layout.starts.size(); ++i) {
        disc.offsets.push_back(static_cast<std::uint32_t>(layout.starts[i] + CDIO_PREGAP_SECTORS));
    }
    disc.seconds = static_cast<std::uint32_t>((layout.starts.back() + CDIO_PREGAP_SECTORS) / 75);
    return disc;
}

int CddbErrorOf(TCddbStatus status) {
    switch (status) {
    case TCddbStatus::Ok:
    case TCddbStatus::NoMatch:
        return ALERR_NOERROR;
    case TCddbStatus::Network:
        return ALERR_CDDB_NETWORK;
    case TCddbStatus::Server:
        return ALERR_CDDB_SERVER;
    case TCddbStatus::Cancelled:
        return ALERR_CDDB_CANCELLED;
    }
    return ALERR_CDDB_SERVER;
}

// Copies text into a fixed field, NUL-terminated, never splitting a UTF-8 character.
void CopyUtf8(char* field, std::size_t fieldSize, const std::string& text) {
    std::size_t n = std::min(fieldSize - 1, text.size());
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), n);
}

std::string FieldText(const char* field, std::size_t fieldSize) {
    return std::string(field, strnlen(field, fieldSize));
}

// A record cut to at most capacity bytes: comment lines go first, then the last lines.
std::string FitRecord(const std::string& record, std::size_t capacity) {
    if (record.size() <= capacity) {
        return record;
    }
    std::string kept;
    std::size_t start = 0;
    while (start < record.size()) {
        std::size_t end = record.find('\n', start);
        end = end == std::string::npos ? record.size() : end + 1;
        if (record[start] != '#') {
            kept.append(record, start, end - start);
        }
        start = end;
    }
    if (kept.size() <= capacity) {
        return kept;
    }
    std::size_t cut = kept.rfind('\n', capacity - 1);
    if (cut == std::string::npos) {
        cut = capacity;
        while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        return kept.substr(0, cut);
    }
    return kept.substr(0, cut + 1);
}

} // namespace

int GetCDList(TCDList& list) {
    const std::vector<TDriveSpec> drives = LockedListDrives();
    const std::size_t capacity = std::min<std::size_t>(list.max, std::size(list.cd));
    const std::size_t count = std::min(capacity, drives.size());
    for (std::size_t i = 0; i < count; ++i) {
        TCDEntry& entry = list.cd[i];
        entry = TCDEntry{};
        entry.ha = drives[i].ha;
        entry.tgt = drives[i].tgt;
        entry.lun = drives[i].lun;
        CopyText(entry.vendor, sizeof entry.vendor, drives[i].vendor);
        CopyText(entry.productId, sizeof entry.productId, drives[i].product);
    }
    list.num = static_cast<std::uint8_t>(count);
    return Succeed();
}

HCDROM GetCDHandle(const TCDHandleRequest& request) {
    const std::vector<TDriveSpec> drives = LockedListDrives();
    const auto found = std::find_if(drives.begin(), drives.end(), [&](const TDriveSpec& d) {
        return d.ha == request.ha && d.tgt == request.tgt && d.lun == request.lun;
    });
    if (found == drives.end()) {
        SetOpenProblem({});
        return Fail(ALERR_NODEVICE);
    }
    auto drive = std::make_shared<OpenDriveState>();
    drive->location = *found;
    drive->cdio = LockedOpen(drive->location);
    if (!drive->cdio) {
        SetOpenProblem(found->isImage ? ImageProblem(found->path) : std::string());
        return Fail(ALERR_NODEVICE);
    }
    SetOpenProblem({});
    if (drive->location.isImage) {
        drive->faults = FaultySectors::FromEnvironment();
    }
    std::lock_guard lock(handlesMutex);
    for (int i = 0; i < MaxHandles; ++i) {
        if (!handles[static_cast<std::size_t>(i)]) {
            handles[static_cast<std::size_t>(i)] = std::move(drive);
            lastError = ALERR_NOERROR;
            return i + 1;
        }
    }
    LockedClose(drive->cdio);
    return Fail(ALERR_NOMEM);
}

int CloseCDHandle(HCDROM handle) {
    std::shared_ptr<OpenDriveState> drive;
    if (handle >= 1 && handle <= MaxHandles) {
        std::lock_guard lock(handlesMutex);
        drive = std::move(handles[static_cast<std::size_t>(handle - 1)]);
    }
    if (!drive) {
        return Fail(ALERR_INVHANDLE);
    }
    // A read still holding the drive may be one a stopped rip left behind in a drive
    // stuck for minutes: the handle closes at once, and the device then goes with the
    // last reference to it (when that read lets go).
    std::unique_lock driveLock(drive->mutex, std::try_to_lock);
    if (driveLock.owns_lock()) {
        LockedClose(drive->cdio);
    }
    return Succeed();
}

int ModifyCDParms(HCDROM handle, int which, std::uint32_t value) {
    const auto drive = Lookup(handle);
    if (!drive) {
        return Fail(ALERR_INVHANDLE);
    }
    if (which != CDP_MSF_ADDRESSES) {
        return Fail(ALERR_NOTSUPPORTED);
    }
    std::lock_guard lock(drive->mutex);
    drive->msfAddresses = value != 0;
    return Succeed();
}

int ReadTOC(HCDROM handle, TTOC& toc) {
    const auto drive = Lookup(handle);
    if (!drive) {
        return Fail(ALERR_INVHANDLE);
    }
    std::lock_guard lock(drive->mutex);
    DiscLayout layout;
    if (!drive->cdio || !RefreshPhysicalDrive(*drive) || !ReadLayout(drive->cdio.get(), layout)) {
        return Fail(ALERR_READTOC);
    }
    drive->notice = NoticeFor(drive->location, layout);
    FillTOC(layout, drive->msfAddresses, toc);
    return Succeed();
}

int ReadCDAudioLBA(HCDROM handle, TTrackBuf& buffer) {
    buffer.len = 0;
    buffer.startOffset = 0;
    const auto drive = Lookup(handle);
    if (!drive) {
        buffer.status = ALERR_INVHANDLE;
        return Fail(ALERR_INVHANDLE);
    }
    if (static_cast<std::uint64_t>(buffer.numFrames) * CDFrameBytes > buffer.maxLen) {
        buffer.status = ALERR_BUFTOOSMALL;
        return Fail(ALERR_BUFTOOSMALL);
    }
    std::lock_guard lock(drive->mutex);
    CdIo_t* cdio = drive->cdio.get();
    lsn_t lsn = 0;
    // The data area follows the 24-byte header; the record declares it one byte long.
    if (!cdio || !DiscAddressOf(cdio, buffer.startFrame, buffer.numFrames, lsn) ||
        !ReadAudio(cdio, lsn, buffer.numFrames, buffer.buf) ||
        (drive->faults && !drive->faults->Apply(lsn, buffer.numFrames, buffer.buf))) {
        buffer.status = ALERR_READ;
        return Fail(ALERR_READ);
    }
    buffer.len = buffer.numFrames * CDFrameBytes;
    buffer.status = ALERR_NOERROR;
    return Succeed();
}

int GetAspiLibError() {
    return lastError;
}

int CDDriveCount() {
    return static_cast<int>(LockedListDrives().size());
}

bool IsAudioCDInDrive(int driveIndex) {
    CdioPtr cdio = OpenDriveAt(driveIndex);
    if (!cdio) {
        return false;
    }
    const track_t first = cdio_get_first_track_num(cdio.get());
    const bool audio = first != CDIO_INVALID_TRACK &&
                       cdio_get_track_format(cdio.get(), first) == TRACK_FORMAT_AUDIO;
    LockedClose(cdio);
    return audio;
}

// The freedb disc id: digit sums of the track start seconds (LBA / 75, the 2-second
// lead-in included), the playing time in whole seconds, and the track count.
std::uint32_t CddbDiscIdOfStarts(const std::vector<std::int64_t>& starts) {
    if (starts.size() < 2) {
        return 0;
    }
    const std::size_t tracks = starts.size() - 1;
    std::int64_t checksum = 0;
    for (std::size_t i = 0; i < tracks; ++i) {
        checksum += DigitSum((starts[i] + CDIO_PREGAP_SECTORS) / 75);
    }
    const std::int64_t total =
        (starts.back() + CDIO_PREGAP_SECTORS) / 75 - (starts.front() + CDIO_PREGAP_SECTORS) / 75;
    return (static_cast<std::uint32_t>(checksum % 0xFF) << 24) |
           (static_cast<std::uint32_t>(total & 0xFFFF) << 8) |
           static_cast<std::uint32_t>(tracks & 0xFF);
}

bool DiscIdOfDrive(int driveIndex, std::uint32_t& discId) {
    DiscLayout layout;
    if (!LayoutOfDrive(driveIndex, layout)) {
        return false;
    }
    discId = CddbDiscId(layout);
    return true;
}

bool DiscIdOfHandle(HCDROM handle, std::uint32_t& discId) {
    const auto drive = Lookup(handle);
    if (!drive) {
        return Fail(ALERR_INVHANDLE) != 0;
    }
    std::lock_guard lock(drive->mutex);
    DiscLayout layout;
    if (!drive->cdio || !RefreshPhysicalDrive(*drive) || !ReadLayout(drive->cdio.get(), layout)) {
        return Fail(ALERR_READTOC) != 0;
    }
    discId = CddbDiscId(layout);
    return Succeed() != 0;
}

int CDDBSetOption(int option, const char* text, int number) {
    const std::string value = text != nullptr ? text : "";
    std::lock_guard lock(cddbMutex);
    TCddbSettings& o = cddbSettings;
    switch (option) {
    case CDDB_OPT_SERVER:
        o.server = value;
        break;
    case CDDB_OPT_PROXY:
        o.proxyHost = value;
        break;
    case CDDB_OPT_USEPROXY:
        o.useProxy = number != 0;
        break;
    case CDDB_OPT_AGENT:
        o.client = value;
        break;
    case CDDB_OPT_USER:
        o.email = value;
        break;
    case CDDB_OPT_PROXYPORT:
        o.proxyPort = number > 0 && number < 65536 ? number : 80;
        break;
    case CDDB_OPT_CGI:
        o.script = value;
        break;
    case CDDB_OPT_HTTPPORT:
        o.serverPort = number > 0 && number < 65536 ? number : 0;
        break;
    case CDDB_OPT_TIMEOUT:
        o.timeoutMs = std::max(number, 0);
        break;
    default:
        return Fail(ALERR_NOTSUPPORTED);
    }
    return 1;
}

void CDDBSetCancelFlag(const std::atomic<bool>* flag) {
    cddbCancel = flag;
}

int CDDBQuery(HCDROM handle, TCDDBQuery& query) {
    const std::uint32_t capacity = std::min(query.num, CDDBMaxMatches);
    query.num = 0;
    if (query.q == nullptr) {
        return Fail(ALERR_BUFTOOSMALL);
    }
    const auto drive = Lookup(handle);
    if (!drive) {
        return Fail(ALERR_INVHANDLE);
    }
    DiscLayout layout;
    {
        std::lock_guard lock(drive->mutex);
        if (!drive->cdio || !RefreshPhysicalDrive(*drive) ||
            !ReadLayout(drive->cdio.get(), layout)) {
            return Fail(ALERR_READTOC);
        }
    }
    // The network part runs without any lock: a slow server holds up nobody else.
    TCddbClient client(CddbSettingsNow(), cddbCancel);
    std::vector<TCddbMatch> matches;
    const TCddbStatus status = client.Query(CddbDiscOf(layout), matches);
    const std::size_t count = std::min<std::size_t>(capacity, matches.size());
    for (std::size_t i = 0; i < count; ++i) {
        TCDDBQueryItem& item = query.q[i];
        CopyUtf8(item.categ, sizeof item.categ, matches[i].category);
        CopyUtf8(item.cddbId, sizeof item.cddbId, matches[i].discId);
        CopyUtf8(item.title, sizeof item.title, matches[i].title);
    }
    query.num = static_cast<std::uint32_t>(count);
    lastError = CddbErrorOf(status);
    return 1;
}

int CDDBGetDiskInfo(const TCDDBQueryItem& item, char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return Fail(ALERR_BUFTOOSMALL);
    }
    buffer[0] = '\0';
    TCddbMatch match;
    match.category = FieldText(item.categ, sizeof item.categ);
    match.discId = FieldText(item.cddbId, sizeof item.cddbId);
    if (match.category.empty() || match.discId.empty()) {
        return Fail(ALERR_CDDB_SERVER);
    }
    TCddbClient client(CddbSettingsNow(), cddbCancel);
    std::string record;
    const TCddbStatus status = client.Read(match, record);
    if (status != TCddbStatus::Ok) {
        return Fail(status == TCddbStatus::NoMatch ? ALERR_CDDB_SERVER : CddbErrorOf(status));
    }
    const std::string fitted = FitRecord(record, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, fitted.data(), fitted.size());
    buffer[fitted.size()] = '\0';
    return Succeed();
}

bool DriveOfHandle(HCDROM handle, TDriveSpec& spec) {
    const auto drive = Lookup(handle);
    if (!drive) {
        return Fail(ALERR_INVHANDLE) != 0;
    }
    spec = drive->location;
    return true;
}

CdioPtr OpenCdioOfHandle(HCDROM handle) {
    TDriveSpec spec;
    if (!DriveOfHandle(handle, spec)) {
        return nullptr;
    }
    CdioPtr cdio = LockedOpen(spec);
    if (!cdio) {
        Fail(ALERR_NODEVICE);
    }
    return cdio;
}

void CloseCdio(CdioPtr& cdio) {
    LockedClose(cdio);
}

bool SetDoorOpen(bool open) {
    std::lock_guard lock(LibraryMutex());
    const std::vector<TDriveSpec> drives = ListPhysicalDrives();
    if (drives.empty()) {
        return false; // only disc images: there is no tray
    }
    const char* device = drives.front().path.c_str();
    const driver_return_code_t rc =
        open ? cdio_eject_media_drive(device) : cdio_close_tray(device, nullptr);
    return rc == DRIVER_OP_SUCCESS;
}

std::string LastOpenProblem() {
    std::lock_guard lock(problemMutex);
    return lastOpenProblem;
}

std::string DiscNotice(HCDROM handle) {
    const auto drive = Lookup(handle);
    if (!drive) {
        return {};
    }
    std::lock_guard lock(drive->mutex);
    return drive->notice;
}

} // namespace cd
