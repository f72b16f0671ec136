#include "cli/DiscSource.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "cd/CdImageList.h"
#include "cd/DiscToc.h"
#include "cd/akrip32.h"
#include "cli/Arguments.h"

namespace cli {

namespace {

constexpr double kFramesPerSecond = 75.0;

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return a == b || std::filesystem::equivalent(a, b, ec);
}

// The position of the drive in the CD layer's list; -1 when it offers no such drive.
int DriveIndex(const std::string& device) {
    const std::vector<cd::TDriveSpec> drives = cd::ListDrives();
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (SameFile(drives[i].path, device)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int OpenHandle(int index, const std::string& name) {
    cd::TCDList list{};
    list.max = 8;
    cd::GetCDList(list);
    if (list.num == 0) {
        throw TUsageError("no CD drive and no disc image found");
    }
    if (index < 0 || index >= list.num) {
        throw TUsageError("no drive " + name);
    }
    const cd::TCDEntry& entry = list.cd[index];
    cd::TCDHandleRequest request{};
    request.size = 12;
    request.ver = 1;
    request.ha = entry.ha;
    request.tgt = entry.tgt;
    request.lun = entry.lun;
    const int handle = cd::GetCDHandle(request);
    if (handle == 0) {
        const std::string problem = cd::LastOpenProblem();
        throw TUsageError(problem.empty() ? "cannot open " + name : problem);
    }
    return handle;
}

} // namespace

void TDiscSource::UseImageOnly(const std::string& image) {
    ::setenv("VELLORINE_CD_IMAGES", image.c_str(), 1);
    ::setenv("VELLORINE_NO_CD_DRIVES", "1", 1);
}

TDiscSource::TDiscSource(const std::string& image, const std::string& drive) {
    int index = 0;
    if (!image.empty()) {
        name_ = image;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(image, ec)) {
            throw TUsageError("no disc image " + image);
        }
    } else if (!drive.empty()) {
        name_ = drive;
        index = DriveIndex(drive);
        if (index < 0) {
            throw TUsageError("no CD drive " + drive);
        }
    } else {
        name_ = "the first drive";
    }
    handle_ = OpenHandle(index, name_);
    std::optional<cd::RipDisc> disc = cd::ReadDiscOf(handle_);
    if (!disc) {
        cd::CloseCDHandle(handle_);
        throw TUsageError("no audio CD in " + name_);
    }
    disc_ = std::move(*disc);
    if (AudioTracks().empty()) {
        cd::CloseCDHandle(handle_);
        throw TUsageError("no audio tracks on the disc in " + name_);
    }
}

TDiscSource::~TDiscSource() {
    cd::CloseCDHandle(handle_);
}

std::vector<int> TDiscSource::AudioTracks() const {
    std::vector<int> numbers;
    for (const cd::RipLogTocEntry& entry : disc_.toc) {
        if (!entry.data) {
            numbers.push_back(entry.number);
        }
    }
    return numbers;
}

double TDiscSource::Seconds(int number) const {
    return cd::AudioFramesOf(disc_, number) / kFramesPerSecond;
}

double TDiscSource::WholeDiscSeconds() const {
    return cd::WholeDiscFramesOf(disc_) / kFramesPerSecond;
}

double TDiscSource::HiddenSeconds() const {
    return cd::HiddenFramesOf(disc_) / kFramesPerSecond;
}

} // namespace cli
