#include "cd/DiscImages.h"

#include "cd/akrip32.h"

#include <cstdlib>
#include <stdexcept>

namespace cdtest {

std::string MakeImage(const ScratchFolder& dir, const std::string& name,
                      const std::vector<int>& frames, const std::string& extraArgs) {
    const std::string cue = dir.File(name + ".cue");
    std::string command = "python3 " +
                          testsupport::Quoted(VELLORINE_SOURCE_DIR "/scripts/make-disc-image") +
                          " " + testsupport::Quoted(cue) + " --frames";
    for (int f : frames) {
        command += " " + std::to_string(f);
    }
    command += " " + extraArgs;
    const auto result = testsupport::RunCommand(command);
    if (result.ExitCode != 0) {
        throw std::runtime_error("generator failed: " + command + "\n" + result.Output);
    }
    return cue;
}

void UseImages(const std::vector<std::string>& cuePaths) {
    std::string list;
    for (const auto& p : cuePaths) {
        list += (list.empty() ? "" : ":") + p;
    }
    setenv("VELLORINE_CD_IMAGES", list.c_str(), 1);
    setenv("VELLORINE_NO_CD_DRIVES", "1", 1);
}

int OpenFirstDrive() {
    cd::TCDList list{};
    list.max = 8;
    if (cd::GetCDList(list) != 1 || list.num == 0) {
        return 0;
    }
    const cd::TCDEntry& entry = list.cd[0];
    const cd::TCDHandleRequest request{12, 1, entry.ha, entry.tgt, entry.lun, 0, 0, 0, 0};
    return cd::GetCDHandle(request);
}

std::vector<std::uint8_t> PatternFrame(int track, int frame) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(2352);
    for (int j = 0; j < 588; ++j) {
        const long i = static_cast<long>(frame) * 588 + j;
        const auto left = static_cast<std::uint16_t>(((8192L * track + 7 * i) & 0xFFFF) ^ 0x8000);
        const auto right = static_cast<std::uint16_t>(((4099L * track + 13 * i) & 0xFFFF) ^ 0x8000);
        for (std::uint16_t v : {left, right}) {
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return bytes;
}

} // namespace cdtest
