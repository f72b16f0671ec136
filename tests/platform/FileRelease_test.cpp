#include "platform/FileRelease.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

enum class Kind { Large, Empty, Linked, Folder, Missing, FullFolder };

struct Case {
    const char* name;
    Kind kind;
    bool removed; // the call's answer and whether the name is gone
};

const Case kCases[] = {
    {"a large file", Kind::Large, true},
    {"an empty file", Kind::Empty, true},
    {"a file with a second name", Kind::Linked, true},
    {"an empty folder", Kind::Folder, true},
    {"a missing file", Kind::Missing, false},
    {"a folder with a file in it", Kind::FullFolder, false},
};

std::string Make(const testsupport::ScratchFolder& dir, Kind kind) {
    const std::string path = dir.Path() + "/item";
    switch (kind) {
    case Kind::Large:
    case Kind::Linked: {
        std::ofstream out(path, std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 8; ++i) {
            out << block;
        }
        break;
    }
    case Kind::Empty:
        std::ofstream(path, std::ios::binary).flush();
        break;
    case Kind::Folder:
        fs::create_directory(path);
        break;
    case Kind::FullFolder:
        fs::create_directory(path);
        std::ofstream(path + "/inside").flush();
        break;
    case Kind::Missing:
        break;
    }
    if (kind == Kind::Linked) {
        fs::create_hard_link(path, dir.Path() + "/other");
    }
    return path;
}

TEST(RemoveFreeingLater, TakesTheNameAwayAtOnce) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const testsupport::ScratchFolder dir;
        const std::string path = Make(dir, c.kind);
        EXPECT_EQ(platform::RemoveFreeingLater(path), c.removed);
        // Gone by the time the call returns, not some time later.
        std::error_code ec;
        EXPECT_EQ(fs::exists(path, ec), !c.removed && c.kind != Kind::Missing);
    }
}

TEST(RemoveFreeingLater, OtherNamesKeepTheData) {
    const testsupport::ScratchFolder dir;
    const std::string path = Make(dir, Kind::Linked);
    ASSERT_TRUE(platform::RemoveFreeingLater(path));
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path() + "/other").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_size, 8 << 20);
}

TEST(RemoveFreeingLater, TheFolderEmptiesOnceTheDataIsFreed) {
    // The freeing thread lets go of the file: the folder can then be removed.
    const testsupport::ScratchFolder dir;
    const std::string path = Make(dir, Kind::Large);
    ASSERT_TRUE(platform::RemoveFreeingLater(path));
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    const std::string fdLink = "/proc/self/fd";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool held = true;
    while (held && std::chrono::steady_clock::now() < deadline) {
        held = false;
        for (const auto& entry : fs::directory_iterator(fdLink)) {
            std::error_code ec;
            const fs::path target = fs::read_symlink(entry.path(), ec);
            held = held || (!ec && target.string().rfind(path, 0) == 0);
        }
        if (held) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_FALSE(held) << "the removed file is still open";
}

} // namespace
