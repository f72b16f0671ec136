#include "cli/ConsoleApplication.h"

#include <cstdio>
#include <exception>

namespace cli {

TConsoleApplication::TConsoleApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

bool TConsoleApplication::notify(QObject* receiver, QEvent* event) {
    std::string what;
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    std::fprintf(stderr, "vellorine: %s\n", what.c_str());
    if (failure_) {
        failure_(what);
    }
    return false;
}

void TConsoleApplication::SetFailureAction(std::function<void(const std::string&)> action) {
    failure_ = std::move(action);
}

} // namespace cli
