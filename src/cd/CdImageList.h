#pragma once
// The drives the CD layer offers: one virtual drive per disc image named in
// $VELLORINE_CD_IMAGES (colon-separated paths of .cue, .bin, .toc or .nrg files), first,
// since the user named them for this run, then the physical drives libcdio finds. Setting
// $VELLORINE_NO_CD_DRIVES to a non-empty value hides the physical drives, so a run on images alone
// sees the same list everywhere.
//
// Not thread-safe by itself: libcdio's driver tables are global, so callers hold the
// CD layer's library lock around every function here.
#include <cdio/cdio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cd {

// Host adapter numbers: physical drives and disc images are told apart by it.
constexpr std::uint8_t PhysicalDriveAdapter = 0;
constexpr std::uint8_t DiscImageAdapter = 1;

struct TDriveSpec {
    bool isImage = false;
    std::string path;    // device node or image file
    std::string vendor;  // at most 9 bytes
    std::string product; // at most 17 bytes
    std::uint8_t ha = 0;
    std::uint8_t tgt = 0; // position among the drives of its adapter
    std::uint8_t lun = 0;
};

struct CdioDeleter {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioDeleter>;

// The image paths of $VELLORINE_CD_IMAGES in order, empty parts skipped.
std::vector<std::string> ImagePathsFromEnvironment();
// Stem of a path ("/x/My Disc.cue" -> "My Disc") cut to at most maxBytes bytes without
// splitting a UTF-8 character.
std::string ImageProductText(const std::string& path, std::size_t maxBytes = 17);
// The images that exist as regular files, then the physical drives (unless hidden).
std::vector<TDriveSpec> ListDrives();
// Opens the drive or image; null when it cannot be opened or an image holds no track.
CdioPtr OpenDrive(const TDriveSpec& drive);
// Why an image that exists cannot be opened, naming it: a missing data file, a cue
// sheet that names none, or damage in general.
std::string ImageProblem(const std::string& path);
// Physical drives only (empty when hidden or none).
std::vector<TDriveSpec> ListPhysicalDrives();

} // namespace cd
