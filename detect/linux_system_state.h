#pragma once
#include "system_state.h"

namespace tevoli::detect {

// The sound server's default source and the processes in /proc.
class LinuxSystemState : public SystemState {
public:
    std::optional<InputDevice> defaultInputDevice() override;
    std::vector<std::optional<std::string>> runningApplications() override;
};

}  // namespace tevoli::detect
