#include "linux_system_state.h"

#include "app_identity.h"
#include "pulse_connection.h"

namespace tevoli::detect {
namespace {

struct SourceQuery {
    pa_threaded_mainloop* loop;
    std::optional<InputDevice> device;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int, void* userdata) {
    auto* query = static_cast<SourceQuery*>(userdata);
    if (info != nullptr)
        query->device = InputDevice{info->state == PA_SOURCE_RUNNING, info->monitor_of_sink != PA_INVALID_INDEX};
    pa_threaded_mainloop_signal(query->loop, 0);
}

}  // namespace

std::optional<InputDevice> LinuxSystemState::defaultInputDevice() {
    const auto pulse = PulseConnection::open("Tevoli Detect");
    if (!pulse) return std::nullopt;
    PulseConnection::Lock lock(*pulse);
    const std::optional<PulseDefaults> defaults = pulse->defaults();
    if (!defaults || defaults->source.empty()) return std::nullopt;
    SourceQuery source{pulse->loop(), std::nullopt};
    if (!pulse->await(pa_context_get_source_info_by_name(pulse->context(), defaults->source.c_str(),
                                                         onSourceInfo, &source)))
        return std::nullopt;
    return source.device;
}

std::vector<std::optional<std::string>> LinuxSystemState::runningApplications() {
    std::vector<std::optional<std::string>> identifiers;
    for (const int pid : processIds()) identifiers.push_back(appIdentifier(pid));
    return identifiers;
}

}  // namespace tevoli::detect
