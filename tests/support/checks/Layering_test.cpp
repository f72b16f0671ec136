// The layers of src/ and what each may use, checked on every #include of the tree.
//
// A layer is a library of the build: a folder, or part of one where a folder holds a
// plain C++ base under its Qt windows (platform, tags, cd). A source may include its own
// layer and the layers its layer builds on (directly or through another); anything else
// is a dependency pointing up or sideways. Layers marked plain must not include Qt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct Layer {
    std::string name;
    std::string folder;
    std::set<std::string> units; // file stems; empty: every unit of the folder not listed elsewhere
    std::set<std::string> uses;  // the layers it builds on directly
    bool plain;                  // no Qt
};

// Mirrors the libraries of src/*/CMakeLists.txt (the base units of the split folders are
// compared with them below).
const std::vector<Layer> kLayers = {
    {"bytes", "bytes", {}, {}, true},
    {"platform_base", "platform", {}, {"bytes"}, true},
    {"platform",
     "platform",
     {"Dialogs", "QtDialogs", "ScriptedDialogs", "Messages", "ProcessInfo", "ErrorDisplay",
      "DeviceMonitor", "Shell", "TerminationSignals", "UserFolders"},
     {"platform_base"},
     false},
    {"audio", "audio", {}, {"bytes", "platform_base"}, true},
    {"tags_base", "tags", {"id3", "Genres", "CddbRecord", "TagWriter", "TagReader"}, {}, true},
    {"cd_base",
     "cd",
     {"akrip32",        "CdImageList",  "CddbClient",  "DriveWorker",    "FaultySectors",
      "ParanoiaReader", "TrackSums",    "AccurateRip", "DatabaseLookup", "RipSession",
      "RipLog",         "RipSummary",   "RipStatus",   "CtdbLookup",     "CtdbCrc",
      "DiscToc",        "DiscVerifier", "MbDiscId",    "MbService",      "CdText",
      "CueSheet",       "HiddenTrack",  "WaveCueImage"},
     {"bytes", "platform_base", "audio"},
     true},
    {"settings", "settings", {}, {"platform", "cd_base", "tags_base"}, false},
    {"cd", "cd", {}, {"cd_base", "settings", "platform"}, false},
    {"tags", "tags", {}, {"tags_base", "settings", "cd", "platform"}, false},
    {"jobs", "jobs", {}, {"settings", "cd", "tags", "audio", "platform"}, false},
    {"tools", "tools", {}, {"jobs", "settings", "cd", "tags", "audio", "platform"}, false},
    {"cli", "cli", {}, {"jobs", "settings", "cd", "platform"}, false},
    {"app", "app", {}, {"cli", "jobs", "tags", "settings", "cd", "platform", "tools"}, false},
    {"wmaenc", "wmaenc", {}, {}, true},
};

const Layer* LayerOf(const std::string& folder, const std::string& unit) {
    const Layer* rest = nullptr;
    for (const Layer& layer : kLayers) {
        if (layer.folder != folder) {
            continue;
        }
        if (layer.units.count(unit) > 0) {
            return &layer;
        }
        if (layer.units.empty()) {
            rest = &layer;
        }
    }
    return rest;
}

// The layer itself and every layer it builds on, directly or not.
std::set<std::string> Reachable(const std::string& name) {
    std::set<std::string> seen;
    std::vector<std::string> todo = {name};
    while (!todo.empty()) {
        const std::string next = todo.back();
        todo.pop_back();
        if (!seen.insert(next).second) {
            continue;
        }
        for (const Layer& layer : kLayers) {
            if (layer.name == next) {
                todo.insert(todo.end(), layer.uses.begin(), layer.uses.end());
            }
        }
    }
    return seen;
}

// Where an included path ("cd/akrip32.h") belongs; nullptr for headers outside src/.
const Layer* LayerOfInclude(const std::string& path) {
    const auto slash = path.find('/');
    if (slash == std::string::npos) {
        return nullptr;
    }
    return LayerOf(path.substr(0, slash), fs::path(path.substr(slash + 1)).stem().string());
}

bool IsQtInclude(const std::string& header) {
    return header.size() > 1 && header[0] == 'Q' &&
           (std::isupper(static_cast<unsigned char>(header[1])) != 0 || header[1] == 't');
}

// "<file>: <what is wrong>" for every include of the tree under `src` that its layer may
// not use, and for every file no layer owns.
std::vector<std::string> Violations(const fs::path& src) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const fs::path& file = entry.path();
        if (!entry.is_regular_file() || (file.extension() != ".h" && file.extension() != ".cpp")) {
            continue;
        }
        const std::string name = fs::relative(file, src).generic_string();
        const Layer* own = LayerOf(file.parent_path().filename().string(), file.stem().string());
        if (own == nullptr) {
            found.push_back(name + ": in no layer");
            continue;
        }
        const std::set<std::string> allowed = Reachable(own->name);
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string directive;
            std::string header;
            if (!(words >> directive >> header) || directive != "#include" || header.size() < 3) {
                continue;
            }
            const std::string path = header.substr(1, header.size() - 2);
            if (own->plain && IsQtInclude(path)) {
                found.push_back(name + ": " + own->name + " must not use Qt (" + path + ")");
            }
            const Layer* target = header[0] == '"' ? LayerOfInclude(path) : nullptr;
            if (target != nullptr && allowed.count(target->name) == 0) {
                found.push_back(name + ": " + own->name + " may not use " + target->name + " (" +
                                path + ")");
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The words after `keyword` in a CMake text, up to the next upper-case keyword or ")".
std::set<std::string> CmakeList(const std::string& text, const std::string& keyword) {
    std::set<std::string> words;
    std::istringstream in(text.substr(std::min(text.size(), text.find(keyword))));
    std::string word;
    in >> word; // the keyword
    while (in >> word && word != ")" && word.find(')') == std::string::npos &&
           !std::all_of(word.begin(), word.end(), [](char c) {
               return std::isupper(static_cast<unsigned char>(c)) != 0 || c == '_';
           })) {
        words.insert(word);
    }
    return words;
}

TEST(Layering, EverySourceOfTheTreeIncludesOnlyWhatItsLayerMayUse) {
    const std::vector<std::string> found = Violations(VELLORINE_SOURCE_DIR "/src");
    std::string all;
    for (const std::string& f : found) {
        all += f + "\n";
    }
    EXPECT_TRUE(found.empty()) << all;
}

TEST(Layering, TheSplitFoldersMatchTheirLibrariesInTheBuild) {
    struct Case {
        const char* folder;
        const char* keyword;
        const char* layer;
    };
    const std::vector<Case> cases = {
        {"platform", "UPPER_UNITS", "platform"},
        {"tags", "BASE_UNITS", "tags_base"},
        {"cd", "BASE_UNITS", "cd_base"},
    };
    for (const Case& c : cases) {
        const std::string text = testsupport::ReadText(std::string(VELLORINE_SOURCE_DIR "/src/") +
                                                       c.folder + "/CMakeLists.txt");
        const Layer* layer = nullptr;
        for (const Layer& l : kLayers) {
            layer = l.name == c.layer ? &l : layer;
        }
        ASSERT_NE(layer, nullptr);
        // The build lists compiled units only; a header-only unit may be missing there.
        for (const std::string& unit : CmakeList(text, c.keyword)) {
            EXPECT_EQ(layer->units.count(unit), 1u) << c.folder << ": " << unit;
        }
        for (const std::string& unit : layer->units) {
            const std::string base =
                std::string(VELLORINE_SOURCE_DIR "/src/") + c.folder + "/" + unit;
            if (fs::exists(base + ".cpp")) {
                EXPECT_EQ(CmakeList(text, c.keyword).count(unit), 1u) << c.folder << ": " << unit;
            }
        }
    }
}

TEST(Layering, AnIncludeAgainstTheLayersIsReported) {
    struct Case {
        const char* file;
        const char* text;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases = {
        {"audio/A.cpp", "#include \"audio/B.h\"\n#include \"bytes/Riff.h\"\n", {}},
        {"audio/A.cpp",
         "#include \"settings/Global.h\"\n",
         {"audio/A.cpp: audio may not use settings (settings/Global.h)"}},
        {"audio/A.cpp", "#include <QString>\n", {"audio/A.cpp: audio must not use Qt (QString)"}},
        {"tags/id3.h",
         "  #include  <QtCore/QString>\n",
         {"tags/id3.h: tags_base must not use Qt (QtCore/QString)"}},
        {"tags/ID3Edit.cpp", "#include <QString>\n#include \"cd/ripthread.h\"\n", {}},
        {"cd/akrip32.cpp",
         "#include \"cd/ripthread.h\"\n",
         {"cd/akrip32.cpp: cd_base may not use cd (cd/ripthread.h)"}},
        {"settings/Global.cpp",
         "#include \"tags/QueryCddb.h\"\n",
         {"settings/Global.cpp: settings may not use tags (tags/QueryCddb.h)"}},
        {"jobs/rip.cpp",
         "#include \"tools/RecordForm.h\"\n",
         {"jobs/rip.cpp: jobs may not use tools (tools/RecordForm.h)"}},
        {"newfolder/X.cpp", "\n", {"newfolder/X.cpp: in no layer"}},
        {"platform/Log.cpp", "// #include \"settings/Global.h\" in a comment\n", {}},
    };
    for (const Case& c : cases) {
        testsupport::ScratchFolder src;
        fs::create_directories(fs::path(src.File(c.file)).parent_path());
        src.WriteText(c.file, c.text);
        EXPECT_EQ(Violations(src.Path()), c.found) << c.file << ": " << c.text;
    }
}

} // namespace
