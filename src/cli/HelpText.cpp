#include "cli/HelpText.h"

#include "cli/FormatNames.h"

namespace cli {

namespace {

const char* const kExitCodes = "Exit codes:\n"
                               "  0    success\n"
                               "  1    some tracks or files damaged, failed or not verified\n"
                               "  2    nothing done: bad arguments, no disc or no input\n"
                               "  130  interrupted (Ctrl+C); no partial output is left\n";

const char* const kCommon = "  --quiet           no progress and no per-item lines\n"
                            "  --json            a machine-readable summary on standard "
                            "output\n";

std::string Overview() {
    return "Usage: vellorine [COMMAND [OPTIONS]]\n"
           "Without a command the window opens. Commands (vellorine COMMAND --help):\n"
           "  rip       extract tracks of a disc or disc image to " +
           FormatChoices() +
           "\n"
           "  convert   convert files to another format\n"
           "  verify    check ripped WAV files against AccurateRip and the CUETools database\n"
           "  info      the disc's table of contents and disc ids\n"
           "  --version the program's version\n\n"
           "Settings come from options.ini; options given here override them for this run\n"
           "only, unless --save-settings is given.\n\n" +
           kExitCodes;
}

std::string Rip() {
    return "Usage: vellorine rip [--image CUE | --drive DEVICE] [OPTIONS]\n"
           "Extracts tracks (every audio track unless --tracks) with the settings of the "
           "window.\n"
           "  --image CUE       read a disc image (.cue, .toc, .nrg)\n"
           "  --drive DEVICE    read this drive (default: the first drive)\n"
           "  --tracks LIST     e.g. 1,3-5\n"
           "  --format NAME     " +
           FormatChoices() +
           "\n"
           "  --output DIR      the output folder (made when missing)\n"
           "  --secure          secure extraction (paranoia reads, AccurateRip, rip log)\n"
           "  --offset N        the drive's read offset in samples\n"
           "  --encoders N      encode up to N tracks at once (1 to 8)\n"
           "  --save-settings   store the options given here in options.ini\n" +
           kCommon + "\n" + kExitCodes;
}

std::string Convert() {
    return "Usage: vellorine convert --format NAME [--output DIR] FILE...\n"
           "Converts WAV files to mp3, ogg or wma, and MP3 files to wav.\n"
           "  --format NAME     the format of the outputs\n"
           "  --output DIR      the output folder (default: the one in options.ini)\n"
           "  --save-settings   store the options given here in options.ini\n" +
           std::string(kCommon) + "\n" + kExitCodes;
}

std::string Verify() {
    return "Usage: vellorine verify FOLDER [--log RIPLOG | --image CUE | --drive DEVICE]\n"
           "Checks the WAV files of a rip (one per track) against AccurateRip and the\n"
           "CUETools database. The disc's layout comes from the rip log, the disc image or\n"
           "the drive given, else from the one rip log in FOLDER, else from the first "
           "drive.\n" +
           std::string(kCommon) + "\n" + kExitCodes;
}

std::string Info() {
    return "Usage: vellorine info [--image CUE | --drive DEVICE] [--json]\n"
           "Prints the table of contents, the CDDB, AccurateRip and MusicBrainz disc ids\n"
           "and the titles stored for the disc.\n" +
           std::string(kCommon) + "\n" + kExitCodes;
}

} // namespace

std::string HelpText(std::optional<TCommand> command) {
    switch (command.value_or(TCommand::Help)) {
    case TCommand::Rip:
        return Rip();
    case TCommand::Convert:
        return Convert();
    case TCommand::Verify:
        return Verify();
    case TCommand::Info:
        return Info();
    default:
        return Overview();
    }
}

} // namespace cli
