#include "cli/Arguments.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

namespace cli {

namespace {

struct TCommandName {
    TCommand command;
    const char* name;
};

constexpr std::array<TCommandName, 4> kCommands = {{{TCommand::Rip, "rip"},
                                                    {TCommand::Convert, "convert"},
                                                    {TCommand::Verify, "verify"},
                                                    {TCommand::Info, "info"}}};

std::optional<TCommand> CommandNamed(const std::string& word) {
    for (const TCommandName& c : kCommands) {
        if (word == c.name) {
            return c.command;
        }
    }
    return std::nullopt;
}

// The options each command takes; a value-taking option is followed by its value.
struct TOptionRule {
    const char* name;
    bool takesValue;
    std::vector<TCommand> commands;
};

const std::vector<TOptionRule>& Rules() {
    using enum TCommand;
    static const std::vector<TOptionRule> rules = {
        {"--image", true, {Rip, Verify, Info}},
        {"--drive", true, {Rip, Verify, Info}},
        {"--log", true, {Verify}},
        {"--tracks", true, {Rip}},
        {"--format", true, {Rip, Convert}},
        {"--output", true, {Rip, Convert}},
        {"--secure", false, {Rip}},
        {"--offset", true, {Rip}},
        {"--encoders", true, {Rip}},
        {"--quiet", false, {Rip, Convert, Verify, Info}},
        {"--json", false, {Rip, Convert, Verify, Info}},
        {"--save-settings", false, {Rip, Convert}},
    };
    return rules;
}

int ParseNumber(const std::string& text, const std::string& what, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        throw TUsageError(what + " must be a whole number, not \"" + text + "\"");
    }
    if (value < low || value > high) {
        throw TUsageError(what + " must be between " + std::to_string(low) + " and " +
                          std::to_string(high) + ", not " + text);
    }
    return value;
}

void Apply(TArguments& a, const std::string& option, const std::string& value) {
    if (option == "--image") {
        a.image = value;
    } else if (option == "--drive") {
        a.drive = value;
    } else if (option == "--log") {
        a.log = value;
    } else if (option == "--tracks") {
        a.tracks = ParseTrackList(value);
    } else if (option == "--format") {
        a.format = value;
    } else if (option == "--output") {
        a.output = value;
    } else if (option == "--secure") {
        a.secure = true;
    } else if (option == "--offset") {
        a.offset = ParseNumber(value, "--offset", -44100, 44100);
    } else if (option == "--encoders") {
        a.encoders = ParseNumber(value, "--encoders", 1, 8);
    } else if (option == "--quiet") {
        a.quiet = true;
    } else if (option == "--json") {
        a.json = true;
    } else if (option == "--save-settings") {
        a.saveSettings = true;
    }
}

void CheckComplete(const TArguments& a) {
    const int sources =
        (a.image.empty() ? 0 : 1) + (a.drive.empty() ? 0 : 1) + (a.log.empty() ? 0 : 1);
    if (sources > 1) {
        throw TUsageError("give one of --image, --drive and --log");
    }
    switch (a.command) {
    case TCommand::Convert:
        if (a.files.empty()) {
            throw TUsageError("convert: name the files to convert");
        }
        if (a.format.empty()) {
            throw TUsageError("convert: --format is needed");
        }
        break;
    case TCommand::Verify:
        if (a.files.size() != 1) {
            throw TUsageError("verify: name one folder of ripped WAV files");
        }
        break;
    default:
        if (!a.files.empty()) {
            throw TUsageError(CommandName(a.command) + ": unexpected argument \"" +
                              a.files.front() + "\"");
        }
        break;
    }
}

} // namespace

std::string CommandName(TCommand command) {
    for (const TCommandName& c : kCommands) {
        if (c.command == command) {
            return c.name;
        }
    }
    return command == TCommand::Version ? "--version" : "--help";
}

bool IsCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) {
        return false;
    }
    const std::string& first = args.front();
    return CommandNamed(first) || first == "--help" || first == "-h" || first == "help" ||
           first == "--version";
}

std::vector<int> ParseTrackList(const std::string& text) {
    std::vector<int> tracks;
    std::set<int> seen;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const std::size_t dash = part.find('-');
        const int first = ParseNumber(part.substr(0, dash), "a track number", 1, 99);
        const int last = dash == std::string::npos
                             ? first
                             : ParseNumber(part.substr(dash + 1), "a track number", 1, 99);
        if (last < first) {
            throw TUsageError("the track range " + part + " runs backwards");
        }
        for (int t = first; t <= last; ++t) {
            if (seen.insert(t).second) {
                tracks.push_back(t);
            }
        }
        start = comma + 1;
    }
    return tracks;
}

TArguments ParseArguments(const std::vector<std::string>& args) {
    TArguments a;
    if (args.empty()) {
        throw TUsageError("no command given");
    }
    const std::string& first = args.front();
    if (first == "--version") {
        a.command = TCommand::Version;
        return a;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        a.command = TCommand::Help;
        if (args.size() > 1) {
            a.helpFor = CommandNamed(args[1]);
            if (!a.helpFor) {
                throw TUsageError("no command named \"" + args[1] + "\"");
            }
        }
        return a;
    }
    const std::optional<TCommand> command = CommandNamed(first);
    if (!command) {
        throw TUsageError("no command named \"" + first + "\"");
    }
    a.command = *command;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--help" || word == "-h") {
            a.helpFor = a.command;
            return a;
        }
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            a.files.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string option = word.substr(0, equals);
        const auto rule = std::find_if(Rules().begin(), Rules().end(),
                                       [&](const TOptionRule& r) { return option == r.name; });
        if (rule == Rules().end() || std::find(rule->commands.begin(), rule->commands.end(),
                                               a.command) == rule->commands.end()) {
            throw TUsageError(first + ": unknown option " + option);
        }
        std::string value;
        if (rule->takesValue) {
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw TUsageError(option + " needs a value");
            }
        } else if (equals != std::string::npos) {
            throw TUsageError(option + " takes no value");
        }
        Apply(a, option, value);
    }
    CheckComplete(a);
    return a;
}

} // namespace cli
