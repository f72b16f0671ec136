#include "cd/CdImageList.h"

#include "cd/WaveCueImage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace cd {

namespace {

constexpr std::size_t VendorBytes = 9;
constexpr std::size_t ProductBytes = 17;

std::string LowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool IsKnownImageExtension(const std::string& ext) {
    return ext == ".cue" || ext == ".bin" || ext == ".toc" || ext == ".nrg";
}

bool PhysicalDrivesHidden() {
    const char* hide = std::getenv("VELLORINE_NO_CD_DRIVES");
    return hide != nullptr && *hide != '\0';
}

// Hardware texts come space-padded from the drive; the fields hold what fits.
std::string FieldText(const char* text, std::size_t maxBytes) {
    std::string s(text);
    return s.substr(0, std::min(s.size(), maxBytes));
}

TDriveSpec PhysicalSpec(const char* device, std::uint8_t index) {
    TDriveSpec drive;
    drive.path = device;
    drive.ha = PhysicalDriveAdapter;
    drive.tgt = index;
    CdioPtr cdio(cdio_open(device, DRIVER_DEVICE));
    cdio_hwinfo_t info{};
    if (cdio && cdio_get_hwinfo(cdio.get(), &info)) {
        drive.vendor = FieldText(info.psz_vendor, VendorBytes);
        drive.product = FieldText(info.psz_model, ProductBytes);
    } else {
        // No inquiry data (no permission, odd driver): still usable, named by its node.
        drive.vendor = "CD-ROM ";
        drive.product = ImageProductText(device, ProductBytes);
    }
    return drive;
}

CdIo_t* OpenImage(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".cue") {
        std::string error;
        if (!CueNeedsTwin(path)) {
            return cdio_open_cue(path.c_str());
        }
        const std::string twin = WaveCueTwin(path, error);
        return twin.empty() ? nullptr : cdio_open_cue(twin.c_str());
    }
    if (ext == ".bin") {
        return cdio_open_bincue(path.c_str());
    }
    if (ext == ".toc") {
        return cdio_open_cdrdao(path.c_str());
    }
    if (ext == ".nrg") {
        return cdio_open_nrg(path.c_str());
    }
    return nullptr;
}

// The data files a CUE sheet names on its FILE lines, resolved beside the sheet.
std::vector<std::filesystem::path> CueDataFiles(const std::string& cuePath) {
    std::vector<std::filesystem::path> files;
    std::ifstream in(cuePath);
    for (std::string line; std::getline(in, line);) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 5, "FILE ") != 0) {
            continue;
        }
        std::string name = line.substr(start + 5);
        if (!name.empty() && name.front() == '"') {
            const std::size_t close = name.find('"', 1);
            name = close == std::string::npos ? std::string() : name.substr(1, close - 1);
        } else {
            name = name.substr(0, name.find(' '));
        }
        if (!name.empty()) {
            files.push_back(std::filesystem::path(cuePath).parent_path() / name);
        }
    }
    return files;
}

} // namespace

std::string ImageProblem(const std::string& path) {
    const std::string quoted = "\"" + path + "\"";
    if (LowerExtension(path) == ".cue") {
        const std::vector<std::filesystem::path> files = CueDataFiles(path);
        for (const auto& file : files) {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(file, ec)) {
                return "The disc image " + quoted + " cannot be read: its data file \"" +
                       file.filename().string() + "\" is missing.";
            }
        }
        if (files.empty()) {
            return "The disc image " + quoted + " cannot be read: it is not a valid cue sheet.";
        }
        std::string error;
        if (CueNeedsTwin(path) && WaveCueTwin(path, error).empty()) {
            return "The disc image " + quoted + " cannot be read: " + error + ".";
        }
    }
    return "The disc image " + quoted + " cannot be read: it is damaged or holds no track.";
}

std::vector<std::string> ImagePathsFromEnvironment() {
    std::vector<std::string> paths;
    const char* value = std::getenv("VELLORINE_CD_IMAGES");
    if (value == nullptr) {
        return paths;
    }
    std::string list(value);
    std::size_t begin = 0;
    while (begin <= list.size()) {
        std::size_t end = list.find(':', begin);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > begin) {
            paths.push_back(list.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return paths;
}

std::string ImageProductText(const std::string& path, std::size_t maxBytes) {
    std::string stem = std::filesystem::path(path).stem().string();
    if (stem.size() <= maxBytes) {
        return stem;
    }
    std::size_t cut = maxBytes;
    // Back up over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return stem.substr(0, cut);
}

std::vector<TDriveSpec> ListPhysicalDrives() {
    std::vector<TDriveSpec> drives;
    if (PhysicalDrivesHidden()) {
        return drives;
    }
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    if (devices == nullptr) {
        return drives;
    }
    for (char** d = devices; *d != nullptr && drives.size() < 255; ++d) {
        drives.push_back(PhysicalSpec(*d, static_cast<std::uint8_t>(drives.size())));
    }
    cdio_free_device_list(devices);
    return drives;
}

std::vector<TDriveSpec> ListDrives() {
    // The images come first: the user named them for this run, and an empty physical
    // drive in front of them would make the program show "no audio CD".
    std::vector<TDriveSpec> drives;
    std::uint8_t index = 0;
    for (const std::string& path : ImagePathsFromEnvironment()) {
        std::error_code ec;
        if (!IsKnownImageExtension(LowerExtension(path)) ||
            !std::filesystem::is_regular_file(path, ec) || index == 255) {
            continue;
        }
        TDriveSpec drive;
        drive.isImage = true;
        drive.path = path;
        drive.vendor = "IMAGE";
        drive.product = ImageProductText(path, ProductBytes);
        drive.ha = DiscImageAdapter;
        drive.tgt = index++;
        drives.push_back(std::move(drive));
    }
    for (TDriveSpec& physical : ListPhysicalDrives()) {
        drives.push_back(std::move(physical));
    }
    return drives;
}

CdioPtr OpenDrive(const TDriveSpec& drive) {
    if (!drive.isImage) {
        return CdioPtr(cdio_open(drive.path.c_str(), DRIVER_DEVICE));
    }
    CdioPtr cdio(OpenImage(drive.path));
    if (cdio && cdio_get_first_track_num(cdio.get()) == CDIO_INVALID_TRACK) {
        cdio.reset();
    }
    return cdio;
}

} // namespace cd
