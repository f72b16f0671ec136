#include <gtest/gtest.h>

#include <sstream>

#include "cli/Arguments.h"

namespace {

using cli::TCommand;

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

struct TrackCase {
    const char* text;
    std::vector<int> tracks; // empty: refused
};

TEST(ParseTrackList, ListsRangesOnceInTheOrderGivenAndRefusesWhatIsNotAList) {
    const TrackCase cases[] = {
        {"1", {1}},
        {"1,3-5", {1, 3, 4, 5}},
        {"5,1-2", {5, 1, 2}},
        {"2,2,1-3", {2, 1, 3}},
        {"99", {99}},
        {"3-3", {3}},
        {"", {}},
        {"0", {}},
        {"100", {}},
        {"1,", {}},
        {",1", {}},
        {"5-3", {}},
        {"1-", {}},
        {"a", {}},
        {"1-2-3", {}},
        {"2.5", {}},
        {" 1", {}},
    };
    for (const TrackCase& c : cases) {
        if (c.tracks.empty()) {
            EXPECT_THROW(cli::ParseTrackList(c.text), cli::TUsageError) << c.text;
        } else {
            EXPECT_EQ(cli::ParseTrackList(c.text), c.tracks) << c.text;
        }
    }
}

TEST(IsCommandLine, OnlyACommandHelpOrTheVersionLeavesTheWindowOut) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"rip", true},
        {"convert a.wav", true},
        {"verify x", true},
        {"info", true},
        {"--help", true},
        {"-h", true},
        {"help rip", true},
        {"--version", true},
        {"-style fusion", false},
        {"Rip", false},
        {"/tmp/a.cue", false},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(cli::IsCommandLine(Split(line)), expected) << line;
    }
}

struct BadCase {
    const char* line;
    const char* message; // a part of the message the user reads
};

TEST(ParseArguments, RefusesWhatACommandDoesNotTakeWithAMessageSayingWhy) {
    const BadCase cases[] = {
        {"", "no command"},
        {"help frobnicate", "no command named \"frobnicate\""},
        {"rip --bogus", "unknown option --bogus"},
        {"info --format mp3", "unknown option --format"},
        {"convert --tracks 1 a.wav --format mp3", "unknown option --tracks"},
        {"verify --secure out", "unknown option --secure"},
        {"rip --tracks", "--tracks needs a value"},
        {"rip --tracks 4-2", "runs backwards"},
        {"rip --offset 44101", "between -44100 and 44100"},
        {"rip --offset 12x", "whole number"},
        {"rip --encoders 0", "between 1 and 8"},
        {"rip --secure=1", "--secure takes no value"},
        {"rip --image a.cue --drive /dev/sr0", "one of --image, --drive and --log"},
        {"rip stray", "unexpected argument \"stray\""},
        {"convert a.wav", "--format is needed"},
        {"convert --format mp3", "name the files"},
        {"verify", "one folder"},
        {"verify a b", "one folder"},
        {"verify out --log a.log --image a.cue", "one of"},
    };
    for (const BadCase& c : cases) {
        try {
            cli::ParseArguments(Split(c.line));
            ADD_FAILURE() << c.line << ": accepted";
        } catch (const cli::TUsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.line << ": " << e.what();
        }
    }
}

TEST(ParseArguments, TakesValuesAfterTheOptionOrAfterAnEqualsSign) {
    const cli::TArguments a = cli::ParseArguments(
        Split("rip --image=/d/a.cue --tracks 2,4 --format=OGG --output out --secure "
              "--offset -6 --encoders=2 --quiet --json --save-settings"));
    EXPECT_EQ(a.command, TCommand::Rip);
    EXPECT_EQ(a.image, "/d/a.cue");
    EXPECT_EQ(a.tracks, (std::vector<int>{2, 4}));
    EXPECT_EQ(a.format, "OGG");
    EXPECT_EQ(a.output, "out");
    EXPECT_TRUE(a.secure);
    EXPECT_EQ(a.offset, -6);
    EXPECT_EQ(a.encoders, 2);
    EXPECT_TRUE(a.quiet && a.json && a.saveSettings);
    EXPECT_FALSE(a.helpFor.has_value());

    const cli::TArguments c = cli::ParseArguments(Split("convert x.wav --format mp3 y.wav"));
    EXPECT_EQ(c.files, (std::vector<std::string>{"x.wav", "y.wav"}));
    const cli::TArguments v = cli::ParseArguments(Split("verify rips --log rips/rip-1.log"));
    EXPECT_EQ(v.files, std::vector<std::string>{"rips"});
    EXPECT_EQ(v.log, "rips/rip-1.log");
}

TEST(ParseArguments, HelpWinsOverEverythingAfterTheCommand) {
    const std::pair<const char*, std::optional<TCommand>> cases[] = {
        {"--help", std::nullopt},
        {"help", std::nullopt},
        {"help verify", TCommand::Verify},
        {"rip --help", TCommand::Rip},
        {"rip --tracks 9-1 -h", std::nullopt}, // the bad list comes first and is refused
        {"convert -h", TCommand::Convert},
        {"info --bogus --help", std::nullopt},
    };
    for (const auto& [line, helpFor] : cases) {
        const std::vector<std::string> words = Split(line);
        const bool refused = std::string(line).find("9-1") != std::string::npos ||
                             std::string(line).find("bogus") != std::string::npos;
        if (refused) {
            EXPECT_THROW(cli::ParseArguments(words), cli::TUsageError) << line;
            continue;
        }
        const cli::TArguments a = cli::ParseArguments(words);
        EXPECT_EQ(a.helpFor, helpFor) << line;
        if (!helpFor) {
            EXPECT_EQ(a.command, TCommand::Help) << line;
        }
    }
    EXPECT_EQ(cli::ParseArguments(Split("--version")).command, TCommand::Version);
}

} // namespace
