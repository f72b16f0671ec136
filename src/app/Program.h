#pragma once
// The program's run: the application object, the main window, the termination signals
// and the event loop, as main() does it. `started` runs once the window is shown and the
// event loop has begun (a test driver starts a command there); the program's own main
// passes none. Returns the event loop's exit code.
#include <functional>

namespace app {

class TMainForm;

int RunProgram(int argc, char** argv, const std::function<void(TMainForm&)>& started = {});

} // namespace app
