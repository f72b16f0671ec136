#include "app/Program.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    // A command runs without any window (and without a display); otherwise the window opens.
    if (cli::WantsCommandLine(argc, argv)) {
        return cli::RunCommandLine(argc, argv);
    }
    return app::RunProgram(argc, argv);
}
