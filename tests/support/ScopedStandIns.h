#pragma once
// Scripted message boxes and a recording desktop shell, installed for the lifetime of the
// object and replaced by whatever was there before when it goes. Declare it before the
// windows that use it, so that they go first.
#include <memory>

#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"

namespace testsupport {

template <typename StandIn, typename Base, std::unique_ptr<Base> (*Install)(std::unique_ptr<Base>)>
class ScopedStandIn {
public:
    ScopedStandIn() {
        auto made = std::make_unique<StandIn>();
        standIn_ = made.get();
        previous_ = Install(std::move(made));
    }
    ~ScopedStandIn() { Install(std::move(previous_)); }
    ScopedStandIn(const ScopedStandIn&) = delete;
    ScopedStandIn& operator=(const ScopedStandIn&) = delete;

    StandIn* get() const { return standIn_; }

private:
    StandIn* standIn_ = nullptr;
    std::unique_ptr<Base> previous_;
};

using ScopedDialogs =
    ScopedStandIn<platform::ScriptedDialogs, platform::Dialogs, &platform::InstallDialogs>;
using ScopedShell =
    ScopedStandIn<platform::RecordingShell, platform::Shell, &platform::InstallShell>;

} // namespace testsupport
