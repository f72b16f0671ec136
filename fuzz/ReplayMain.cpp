// Runs a fuzz target's entry point over the files and folders named on the command line,
// as libFuzzer does when it replays a corpus. The ordinary build links every target with
// this main and runs it over the committed seeds, so a target that no longer links, or a
// seed that now crashes, fails the test suite rather than the next fuzzing session.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& named) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(named)) {
        for (const auto& entry : std::filesystem::directory_iterator(named)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
        std::sort(inputs.begin(), inputs.end());
    } else {
        inputs.push_back(named);
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t ran = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& path : InputsOf(argv[i])) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++ran;
        }
    }
    std::printf("ran %zu inputs\n", ran);
    return ran > 0 ? 0 : 1; // no seeds at all is a broken checkout
}
