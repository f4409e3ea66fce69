#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tevoli::detect {

// The default audio input device as the detector sees it.
struct InputDevice {
    bool runningSomewhere = false;  // some process is recording from it
    bool monitor = false;           // it only echoes an output device: no microphone
};

// What the detector asks of the machine, so the report can be tested without one.
class SystemState {
public:
    virtual ~SystemState() = default;
    // None when there is no default input device or it cannot be queried.
    virtual std::optional<InputDevice> defaultInputDevice() = 0;
    // Bundle identifiers of the running applications; none where one cannot be read.
    virtual std::vector<std::optional<std::string>> runningApplications() = 0;
};

}  // namespace tevoli::detect
