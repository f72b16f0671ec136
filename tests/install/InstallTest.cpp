// The Debian package as a user gets it: made from the build by the package-tree fixture,
// unpacked by dpkg-deb into a scratch folder, and run from there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Version.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Quoted;
using testsupport::RunCommand;

const fs::path kPackageDir = fs::path(VELLORINE_BINARY_DIR) / "install-test";
const fs::path kRoot = kPackageDir / "root";
const fs::path kUsr = kRoot / "usr";
const std::string kAppId = "org.vellorine.Vellorine";

bool Executable(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

std::string Field(const std::string& name) {
    return RunCommand("dpkg-deb -f " + Quoted((kPackageDir / "vellorine.deb").string()) + " " +
                      name)
        .Output;
}

struct InstalledFile {
    const char* path; // under usr/
    bool executable;
};

TEST(Package, HoldsTheProgramItsEncoderHelperAndItsDesktopFilesWhereTheDesktopLooks) {
    const InstalledFile files[] = {
        {"bin/vellorine", true},
        {"libexec/vellorine/WM8EUTIL", true},
        {"share/applications/org.vellorine.Vellorine.desktop", false},
        {"share/icons/hicolor/scalable/apps/org.vellorine.Vellorine.svg", false},
        {"share/metainfo/org.vellorine.Vellorine.metainfo.xml", false},
    };
    for (const InstalledFile& file : files) {
        const fs::path path = kUsr / file.path;
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(Executable(path), file.executable) << path;
    }
    // The help is installed file for file.
    const fs::path help = fs::path(VELLORINE_SOURCE_DIR) / "docs/help";
    ASSERT_TRUE(fs::is_regular_file(help / "index.html"));
    for (const auto& entry : fs::recursive_directory_iterator(help)) {
        if (entry.is_regular_file()) {
            const fs::path installed =
                kUsr / "share/vellorine/help" / fs::relative(entry.path(), help);
            EXPECT_TRUE(fs::is_regular_file(installed)) << installed;
        }
    }
}

// The packages of the shared libraries the two programs name (their NEEDED entries).
std::vector<std::string> PackagesOfLinkedLibraries() {
    const std::string script =
        "for f in \"$0\" \"$1\"; do readelf -d \"$f\" | "
        "sed -n 's/.*Shared library: \\[\\(.*\\)\\]/\\1/p'; done | sort -u | "
        "while read so; do dpkg -S \"*/$so\" 2>/dev/null | "
        "grep \"/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/\" | head -1 | cut -d: -f1; done";
    const auto run =
        RunCommand("sh -c " + Quoted(script) + " " + Quoted((kUsr / "bin/vellorine").string()) +
                   " " + Quoted((kUsr / "libexec/vellorine/WM8EUTIL").string()));
    std::vector<std::string> packages;
    std::istringstream lines(run.Output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            packages.push_back(line);
        }
    }
    return packages;
}

// Whether a package the dependencies name pulls `needed` in itself: a library's shlibs may
// name a package that depends on the one holding the file (libtag1v5 on libtag1v5-vanilla).
bool PulledInBy(const std::set<std::string>& named, const std::string& needed) {
    for (const std::string& package : named) {
        const auto run = RunCommand("dpkg-query -W -f='${Depends}' " + Quoted(package));
        std::istringstream items(run.Output);
        for (std::string item; std::getline(items, item, ',');) {
            std::istringstream words(item);
            std::string name;
            words >> name;
            if (name == needed || name == needed + ":any") {
                return true;
            }
        }
    }
    return false;
}

TEST(Package, NamesTheVersionOfTheBuildAndDependsOnTheLinkedLibrariesAndLame) {
    EXPECT_EQ(Field("Version"), std::string(vellorine::kVersion) + "\n");
    const std::string depends = Field("Depends");
    const std::vector<std::string> linked = PackagesOfLinkedLibraries();
    EXPECT_GE(linked.size(), 5u); // Qt, libcdio, FFmpeg, libudev, the C++ runtime at least
    // shlibdeps gives no version for packages without symbol information (libglx0 and
    // libopengl0 in a debug build), so a dependency is matched by its name alone.
    std::set<std::string> named;
    std::istringstream items(depends);
    for (std::string item; std::getline(items, item, ',');) {
        std::istringstream words(item);
        std::string name;
        words >> name;
        named.insert(name);
    }
    for (const std::string& needed : linked) {
        EXPECT_TRUE(named.count(needed) || PulledInBy(named, needed))
            << needed << " in " << depends;
    }
    EXPECT_EQ(depends.rfind("lame", 0), 0u) << depends;
}

TEST(Package, DesktopEntryAndAppStreamFilePassTheirValidators) {
    const std::string desktop = (kUsr / "share/applications" / (kAppId + ".desktop")).string();
    const auto entry = RunCommand("desktop-file-validate " + Quoted(desktop));
    EXPECT_EQ(entry.ExitCode, 0) << entry.Output;
    EXPECT_EQ(entry.Output, "");

    const std::string metainfo = (kUsr / "share/metainfo" / (kAppId + ".metainfo.xml")).string();
    const auto appstream = RunCommand("appstreamcli validate --no-net " + Quoted(metainfo));
    EXPECT_EQ(appstream.ExitCode, 0) << appstream.Output;
    EXPECT_NE(testsupport::ReadText(metainfo).find(std::string("release version=\"") +
                                                   vellorine::kVersion + "\""),
              std::string::npos);
}

TEST(UnpackedProgram, StartsUnderAVirtualDisplayShowsItsWindowAndClosesCleanlyOnTerm) {
    testsupport::ScratchFolder scratch;
    const std::string disc = scratch.File("disc/demo.cue");
    const auto made = RunCommand(Quoted(VELLORINE_SOURCE_DIR "/scripts/make-disc-image") + " " +
                                 Quoted(disc) + " --tracks 2 3");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    fs::create_directory(scratch.File("Music")); // a desktop home has its music folder
    // The window is there once the X server lists it; TERM then closes it as the user would.
    const std::string script =
        "\"$0\" & pid=$!; "
        "for i in $(seq 150); do xwininfo -root -tree 2>/dev/null | grep -q '\"Vellorine' && "
        "break; sleep 0.1; done; "
        "xwininfo -root -tree | grep -q '\"Vellorine' || echo 'no window'; "
        "kill -TERM $pid; wait $pid";
    const std::string command = "env -u QT_QPA_PLATFORM HOME=" + Quoted(scratch.Path()) +
                                " XDG_CONFIG_HOME=" + Quoted(scratch.File("config")) +
                                " VELLORINE_HOME=" + Quoted(scratch.File("home")) +
                                " VELLORINE_NO_CD_DRIVES=1 VELLORINE_CD_IMAGES=" + Quoted(disc) +
                                " xvfb-run -a sh -c " + Quoted(script) + " " +
                                Quoted((kUsr / "bin/vellorine").string()) + " 2>&1";
    const auto run = RunCommand(command);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_EQ(run.Output.find("no window"), std::string::npos) << run.Output;
    // Closing stored the settings, with the music folder as the default output folder.
    const std::string options = testsupport::ReadText(scratch.File("home/options.ini"));
    EXPECT_NE(options.find("OutputFolder=" + scratch.Path() + "/Music/Vellorine"),
              std::string::npos)
        << options;
}

TEST(UnpackedProgram, FindsItsHelpAndEncoderHelperInItsOwnTreeAndEncodesAWavToWma) {
    testsupport::ScratchFolder scratch;
    const std::string wav = scratch.File("song.wav");
    const auto made =
        RunCommand("sox -n -r 44100 -c 2 -b 16 " + Quoted(wav) + " synth 2 sine 440 vol 0.5 2>&1");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    // The probe runs the program's WMA step from the tree's bin folder; the build tree's
    // helper is kept off the search path.
    const fs::path probe = kUsr / "bin/install_probe";
    fs::copy_file(fs::path(VELLORINE_BINARY_DIR) / "tests/install/install_probe", probe,
                  fs::copy_options::overwrite_existing);
    const std::string wma = scratch.File("song.wma");
    const auto run =
        RunCommand("env PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen " + Quoted(probe.string()) +
                   " " + Quoted(wav) + " " + Quoted(wma) + " 2>&1");
    fs::remove(probe);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("encoder: " + (kUsr / "libexec/vellorine/WM8EUTIL").string()),
              std::string::npos)
        << run.Output;
    EXPECT_NE(run.Output.find("help: " + (kUsr / "share/vellorine/help/").string()),
              std::string::npos)
        << run.Output;
    const auto codec = RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                                  "stream=codec_name -of csv=p=0 " +
                                  Quoted(wma));
    EXPECT_EQ(codec.Output, "wmav2\n");
}

TEST(UnpackedProgram, ItsCommandLineRipsWithoutAnyDisplayUsingItsOwnEncoderHelper) {
    testsupport::ScratchFolder scratch;
    const std::string disc = scratch.File("disc/demo.cue");
    const auto made = RunCommand(Quoted(VELLORINE_SOURCE_DIR "/scripts/make-disc-image") + " " +
                                 Quoted(disc) + " --tracks 2 3 --tones");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    // No display and no Qt platform named: the command line needs neither.
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH=/usr/bin:/bin VELLORINE_HOME=" +
        Quoted(scratch.File("home")) + " " + Quoted((kUsr / "bin/vellorine").string()) +
        " rip --quiet --format wma --image " + Quoted(disc) + " --output " +
        Quoted(scratch.File("out")) + " 2>&1";
    const auto run = RunCommand(command);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    for (const char* name : {"Track01.wma", "Track02.wma"}) {
        const auto codec = RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                                      "stream=codec_name -of csv=p=0 " +
                                      Quoted(scratch.File(std::string("out/") + name)));
        EXPECT_EQ(codec.Output, "wmav2\n") << name;
    }
    EXPECT_FALSE(fs::exists(scratch.File("home/options.ini")))
        << "settings were not asked to be stored";
}

} // namespace
