#include "cli/CommandLine.h"

#include <cstdio>
#include <exception>

#include "Version.h"
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ConsoleApplication.h"
#include "cli/DiscSource.h"
#include "cli/HelpText.h"
#include "cli/Interrupt.h"
#include "cli/QuietDialogs.h"
#include "platform/Dialogs.h"
#include "platform/TerminationSignals.h"
#include "settings/Global.h"

namespace cli {

namespace {

std::vector<std::string> Words(int argc, char** argv) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        words.emplace_back(argv[i]);
    }
    return words;
}

int UsageFailure(const std::string& message) {
    std::fprintf(stderr, "vellorine: %s\nTry 'vellorine --help'.\n", message.c_str());
    return kExitUsage;
}

int Dispatch(const TArguments& args, TContext& context) {
    switch (args.command) {
    case TCommand::Rip:
        return RunRip(args, context);
    case TCommand::Convert:
        return RunConvert(args, context);
    case TCommand::Verify:
        return RunVerify(args, context);
    case TCommand::Info:
        return RunInfo(args, context);
    default:
        return kExitUsage;
    }
}

} // namespace

bool WantsCommandLine(int argc, char** argv) {
    return IsCommandLine(Words(argc, argv));
}

int RunCommandLine(int argc, char** argv) {
    TArguments args;
    try {
        args = ParseArguments(Words(argc, argv));
    } catch (const TUsageError& e) {
        return UsageFailure(e.what());
    }
    if (args.command == TCommand::Version) {
        std::printf("vellorine %s\n", vellorine::kVersion);
        return kExitOk;
    }
    if (args.command == TCommand::Help || args.helpFor) {
        std::printf("%s", HelpText(args.helpFor).c_str());
        return kExitOk;
    }
    if (!args.image.empty() && args.command != TCommand::Verify) {
        TDiscSource::UseImageOnly(args.image); // before the CD layer lists its drives
    }
    TConsoleApplication app(argc, argv);
    platform::InstallDialogs(std::make_unique<TQuietDialogs>());
    TInterrupt interrupt;
    platform::OnTerminationSignals(&app, [&interrupt] { interrupt.Raise(); });
    TContext context{app, interrupt};
    try {
        settings::LoadSaveOptions(true);
        return Dispatch(args, context);
    } catch (const TUsageError& e) {
        return UsageFailure(e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vellorine: %s\n", e.what());
        return kExitSomeFailed;
    }
}

} // namespace cli
