#include "linux_system_state.h"

#include "app_identity.h"
#include "pulse_connection.h"

namespace tevoli::detect {
namespace {

struct ServerQuery {
    pa_threaded_mainloop* loop;
    std::string defaultSource;
};

struct SourceQuery {
    pa_threaded_mainloop* loop;
    std::optional<InputDevice> device;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<ServerQuery*>(userdata);
    if (info != nullptr && info->default_source_name != nullptr) query->defaultSource = info->default_source_name;
    pa_threaded_mainloop_signal(query->loop, 0);
}

void onSourceInfo(pa_context*, const pa_source_info* info, int, void* userdata) {
    auto* query = static_cast<SourceQuery*>(userdata);
    if (info != nullptr)
        query->device = InputDevice{info->state == PA_SOURCE_RUNNING, info->monitor_of_sink != PA_INVALID_INDEX};
    pa_threaded_mainloop_signal(query->loop, 0);
}

}  // namespace

std::optional<InputDevice> LinuxSystemState::defaultInputDevice() {
    std::string error;
    const auto pulse = PulseConnection::open("Tevoli Detect", error);
    if (!pulse) return std::nullopt;
    PulseConnection::Lock lock(*pulse);
    ServerQuery server{pulse->loop(), {}};
    if (!pulse->await(pa_context_get_server_info(pulse->context(), onServerInfo, &server)) ||
        server.defaultSource.empty())
        return std::nullopt;
    SourceQuery source{pulse->loop(), std::nullopt};
    if (!pulse->await(pa_context_get_source_info_by_name(pulse->context(), server.defaultSource.c_str(),
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
