#pragma once
// A private scratch folder for fuzz targets that must hand their input over as a file.
// Made under $TMPDIR (or /tmp) on first use and removed with everything in it when the
// process ends, so a fuzzing run leaves nothing behind in the temporary folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vellorine-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("fuzz scratch folder");
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

// Writes the bytes to the named file of the scratch folder and returns its path.
inline std::string WriteScratchFile(const std::string& name, const std::uint8_t* data,
                                    std::size_t size) {
    const std::string path = Scratch().File(name);
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        if (size > 0) {
            std::fwrite(data, 1, size, out);
        }
        std::fclose(out);
    }
    return path;
}

} // namespace fuzzing
