#pragma once
// The CD-access layer: drive list, drive handles, table of contents and raw audio
// reads, over libcdio. The drive list holds one virtual drive per disc image named in
// $VELLORINE_CD_IMAGES (colon-separated .cue/.toc/.nrg) first, then the physical drives.
//
// CDDB lookups (CDDBSetOption, CDDBQuery, CDDBGetDiskInfo) speak CDDB over HTTP
// (CddbClient). Options are process-wide and read by each query; the calls block
// the calling thread, which should not be the GUI thread; CDDBSetCancelFlag lets another
// thread abandon the calling thread's transfers.
//
// The records keep the byte layouts the rest of the program was written against
// (packed, little-endian on this platform). All functions are safe to call from any
// one thread at a time per handle; the last error code is per process.
#include "cd/CdImageList.h"
#include <atomic>

#include <cstdint>
#include <string>
#include <vector>

namespace cd {

using HCDROM = std::int32_t; // 0 = no handle

#pragma pack(push, 1)
struct TCDEntry {     // 121 bytes
    std::uint8_t ha;  // host adapter
    std::uint8_t tgt; // target
    std::uint8_t lun; // unit
    std::uint8_t reserved1[66];
    char vendor[9];     // bytes 69..77, not necessarily NUL-terminated
    char productId[17]; // bytes 78..94
    std::uint8_t reserved2[26];
};
static_assert(sizeof(TCDEntry) == 121);

struct TCDList {      // 970 bytes
    std::uint8_t max; // capacity: caller zeroes the record and sets 8
    std::uint8_t num; // entries found
    TCDEntry cd[8];
};
static_assert(sizeof(TCDList) == 970);

struct TCDHandleRequest { // 12 bytes
    std::uint8_t size;    // 12
    std::uint8_t ver;     // 1
    std::uint8_t ha;
    std::uint8_t tgt;
    std::uint8_t lun;
    std::uint8_t readType;
    std::uint32_t jitterCorr;
    std::uint8_t numJitter;
    std::uint8_t numOverlap;
};
static_assert(sizeof(TCDHandleRequest) == 12);

struct TTOCEntry { // 8 bytes
    std::uint8_t rsvd;
    std::uint8_t adr; // address/control; control bit 0x04 = data track
    std::uint8_t trackNumber;
    std::uint8_t rsvd2;
    std::uint8_t addr[4]; // [1] minute, [2] second, [3] frame (after CDP_MSF_ADDRESSES = 1)
};
static_assert(sizeof(TTOCEntry) == 8);

struct TTOC { // 804 bytes
    std::uint8_t tocLen[2];
    std::uint8_t firstTrack;
    std::uint8_t lastTrack;
    TTOCEntry tracks[100]; // entry k is track k+1; the entry after the last is the lead-out
};
static_assert(sizeof(TTOC) == 804);

struct TTrackBuf { // 24-byte header then the data area
    // Relative to the first track's INDEX 01; negative addresses the audio before it (from
    // the disc's first sector on), which a disc can hide in track 1's pregap.
    std::int32_t startFrame;
    std::uint32_t numFrames;
    std::uint32_t maxLen; // capacity of buf in bytes (numFrames * 2352)
    std::uint32_t len;    // bytes returned
    std::uint32_t status;
    std::int32_t startOffset; // returned audio starts this many bytes into buf
    std::uint8_t buf[1];      // data area; allocate sizeof header + maxLen
};
// One match of a CDDB query (192 bytes), opaque to callers: NUL-terminated category,
// disc id (hex) and "artist / album" title, the last cut at a character boundary.
struct TCDDBQueryItem {
    char categ[20];
    char cddbId[12];
    char title[160];
};
static_assert(sizeof(TCDDBQueryItem) == 192);

struct TCDDBQuery {
    std::uint32_t num; // in: capacity of q (at most 10 are filled); out: matches found
    TCDDBQueryItem* q; // caller's array, zero-filled
};
#pragma pack(pop)

constexpr std::size_t TrackBufHeaderSize = 24;
constexpr std::uint32_t CDFrameBytes = 2352;

// Error codes returned by GetAspiLibError.
enum : int {
    ALERR_NOERROR = 0,
    ALERR_NOMEM = 1,
    ALERR_BUFTOOSMALL = 2,
    ALERR_INVHANDLE = 3,
    ALERR_NODEVICE = 4,
    ALERR_READTOC = 5,
    ALERR_READ = 6,
    ALERR_NOTSUPPORTED = 7,
    ALERR_CDDB_NETWORK = 8, // the CDDB server could not be reached or did not answer in time
    ALERR_CDDB_SERVER = 9,  // the server's answer was an error or not a CDDB reply
    ALERR_CDDB_CANCELLED = 10,
};

// CDDBSetOption numbers.
enum : int {
    CDDB_OPT_SERVER = 0,    // text: host, host:port or "http://host:port"
    CDDB_OPT_PROXY = 1,     // text: proxy host
    CDDB_OPT_USEPROXY = 2,  // number: 1 = through the proxy
    CDDB_OPT_AGENT = 3,     // text: client name and version, "Vellorine 2.5"
    CDDB_OPT_USER = 4,      // text: e-mail address user@host for the hello
    CDDB_OPT_PROXYPORT = 5, // number: proxy port
    CDDB_OPT_CGI = 6,       // text: path of the server's CDDB script
    CDDB_OPT_HTTPPORT = 7,  // number: server port, 0 = from the server text or 80
    CDDB_OPT_TIMEOUT = 8,   // number: milliseconds one command may take, 0 = 20 s
};
constexpr std::uint32_t CDDBMaxMatches = 10;

int GetCDList(TCDList& list);
HCDROM GetCDHandle(const TCDHandleRequest& request);
int CloseCDHandle(HCDROM handle); // non-zero = closed
// The one parameter ModifyCDParms knows: with value 1, ReadTOC gives addresses as
// minute:second:frame (addr[1..3]); with 0, as big-endian logical block numbers.
constexpr int CDP_MSF_ADDRESSES = 36;
int ModifyCDParms(HCDROM handle, int which, std::uint32_t value); // 0 = failure
int ReadTOC(HCDROM handle, TTOC& toc);                            // 1 = success
int ReadCDAudioLBA(HCDROM handle, TTrackBuf& buffer);             // 1 = success
int GetAspiLibError();

// Stores one option for the next queries; 0 for an unknown option number.
int CDDBSetOption(int option, const char* text, int number);
// Looks the disc behind the handle up: 1 with query.num set (0 when the server knows no
// such disc or could not be asked: GetAspiLibError tells which); 0 when the handle or its
// table of contents cannot be read or the record is unusable.
int CDDBQuery(HCDROM handle, TCDDBQuery& query);
// Reads the record of one match into buffer as NUL-terminated UTF-8 lines ("\n"); a record
// longer than the buffer loses its comment lines first, then its last lines. 1 = success.
int CDDBGetDiskInfo(const TCDDBQueryItem& item, char* buffer, int size);
// Transfers started by the calling thread end (with ALERR_CDDB_CANCELLED) once *flag is
// true. The flag must outlive those calls; nullptr removes it.
void CDDBSetCancelFlag(const std::atomic<bool>* flag);

// Stand-ins for the drive-letter queries. Drive index = position in the drive list.
int CDDriveCount();
// Disc present and its first track is an audio track ("volume label is Audio CD").
bool IsAudioCDInDrive(int driveIndex);
// The 32-bit CDDB disc id of the disc in that drive; false when there is none.
bool DiscIdOfDrive(int driveIndex, std::uint32_t& discId);
// The same id from every track's start LSN followed by the lead-out LSN.
std::uint32_t CddbDiscIdOfStarts(const std::vector<std::int64_t>& starts);
// The same id for the disc behind an open handle; false (and an error code) otherwise.
bool DiscIdOfHandle(HCDROM handle, std::uint32_t& discId);
// The drive (or image) behind an open handle; false for an unknown handle.
bool DriveOfHandle(HCDROM handle, TDriveSpec& drive);
// A libcdio handle of its own on the drive behind an open handle, for readers that need
// libcdio itself (the secure reader); null when it cannot be opened. Close it with
// CloseCdio, which takes the library lock that libcdio's global tables need.
CdioPtr OpenCdioOfHandle(HCDROM handle);
void CloseCdio(CdioPtr& cdio);
// Opens (true) or closes (false) the tray of the first physical drive; images: no-op.
bool SetDoorOpen(bool open);

// Why the last GetCDHandle on a disc image failed, naming the image (a missing data
// file, a cue sheet that is not one); empty after a success or for physical drives.
std::string LastOpenProblem();
// After ReadTOC: a text naming the image when its data ends before tracks its cue sheet
// lists (those tracks are left out of the TOC, the last one kept ends at the data's end);
// empty when the disc is whole.
std::string DiscNotice(HCDROM handle);

} // namespace cd
