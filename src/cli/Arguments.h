#pragma once
// The command line's words: which command, and the options given to it. Parsing checks
// everything it can without the disc or the files (a track list's form, a number's range,
// an option the command does not take) and throws TUsageError with a message for the user;
// the program then exits with kExitUsage.
//
// Plain C++; no Qt, no settings record.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// What a script can rely on.
constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1; // tracks or files damaged, failed or not verified
constexpr int kExitUsage = 2;      // nothing done: bad arguments, no disc, nothing to read
constexpr int kExitInterrupted = 130;

enum class TCommand { Help, Version, Rip, Convert, Verify, Info };

class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TArguments {
    TCommand command = TCommand::Help;
    std::optional<TCommand> helpFor; // "--help" after a command, or "help <command>"
    std::string image;               // a cue sheet (or .toc, .nrg) to read as the disc
    std::string drive;               // a device node
    std::string log;                 // verify: a rip log giving the disc's layout
    std::vector<int> tracks;         // rip: the tracks asked for; empty = every audio track
    std::string format;              // an output format's name ("mp3", ...), as given
    std::string output;              // the output folder
    bool secure = false;
    std::optional<int> offset; // the drive's read offset in samples
    std::optional<int> encoders;
    bool quiet = false;
    bool json = false;
    bool saveSettings = false;
    std::vector<std::string> files; // convert: the input files; verify: the folder
};

// Whether these arguments (without the program's name) are for the command line rather
// than the window: the first names a command, or asks for help or the version.
bool IsCommandLine(const std::vector<std::string>& args);
// Throws TUsageError.
TArguments ParseArguments(const std::vector<std::string>& args);
// "1,3-5" -> 1 3 4 5, in the order given, each once; throws TUsageError.
std::vector<int> ParseTrackList(const std::string& text);
// The command's name as typed ("rip", ...).
std::string CommandName(TCommand command);

} // namespace cli
