// Listing through KWin scripting: a script of ours, loaded for one listing, walks
// KWin's windows and calls us back on the session bus with them.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "dbus_connection.h"
#include "kwin_bus.h"
#include "kwin_route.h"
#include "kwin_script.h"
#include "write_all.h"

namespace tevoli::window {
namespace {

using namespace std::chrono_literals;
using Clock = DbusConnection::Clock;

// The window system waits 2.5 s for a route; by then the script is unloaded.
constexpr auto kAnswerWait = 2000ms;
// Unloading is sent at once; KWin handles it after the load, in order, even when it
// answers neither in time.
constexpr auto kUnloadWait = 300ms;

constexpr const char* kScripting = "org.kde.kwin.Scripting";

// The script as a file for KWin to read.
class ScriptFile {
public:
    static std::unique_ptr<ScriptFile> write(const std::string& text, std::string& error) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string path = std::string(runtime && *runtime ? runtime : "/tmp") + "/tevoli-window-XXXXXX";
        const int fd = ::mkstemp(path.data());
        if (fd < 0) {
            error = std::string("script file: ") + std::strerror(errno);
            return nullptr;
        }
        auto file = std::make_unique<ScriptFile>(path);
        const bool written = writeAll(fd, text);
        ::close(fd);
        if (!written) {
            error = "script file: " + path + " not written";
            return nullptr;
        }
        return file;
    }
    explicit ScriptFile(std::string path) : path_(std::move(path)) {}
    ~ScriptFile() { ::unlink(path_.c_str()); }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// KWin keeps loaded scripts by name: one of this process's own for each listing.
std::string scriptName() {
    static std::atomic<int> listings{0};
    return "tevoli-window-" + std::to_string(::getpid()) + "-" + std::to_string(++listings);
}

// Unloads the script by name when the listing ends, however it ends.
class Unloading {
public:
    Unloading(DbusConnection& bus, std::string name) : bus_(bus), name_(std::move(name)) {}
    ~Unloading() {
        bus_.call(Clock::now() + kUnloadWait, kKwinService, "/Scripting", kScripting, "unloadScript", "s",
                  name_.c_str());
    }
    Unloading(const Unloading&) = delete;
    Unloading& operator=(const Unloading&) = delete;

private:
    DbusConnection& bus_;
    std::string name_;
};

bool unknownObject(const DbusError& error) {
    return error.name == "org.freedesktop.DBus.Error.UnknownObject" ||
           error.name == "org.freedesktop.DBus.Error.UnknownMethod" ||
           error.name == "org.freedesktop.DBus.Error.UnknownInterface";
}

// A loaded script is object /<id> on Plasma 5 and /Scripting/Script<id> on Plasma 6.
DbusError runScript(DbusConnection& bus, int id, Clock::time_point deadline) {
    DbusError failure;
    for (const std::string& path : {"/" + std::to_string(id), "/Scripting/Script" + std::to_string(id)}) {
        failure = bus.call(deadline, kKwinService, path.c_str(), "org.kde.kwin.Script", "run").error;
        if (!unknownObject(failure)) break;
    }
    return failure;
}

// KWin's unique name on the bus; nothing, with `error` set, when KWin is not there.
std::optional<std::string> kwinOwner(DbusConnection& bus, Clock::time_point deadline, DbusError& error) {
    const auto owner = bus.call(deadline, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "GetNameOwner", "s", kKwinService);
    const char* name = nullptr;
    if (!owner.message || sd_bus_message_read(owner.message.get(), "s", &name) < 0) {
        error = owner.error;
        return std::nullopt;
    }
    return name;
}

Outcome<std::vector<RouteWindow>> failed(const std::string& what, const DbusError& error) {
    return {std::nullopt, what + busErrorText(error)};
}

}  // namespace

Outcome<std::vector<RouteWindow>> KwinRoute::windows() {
    const auto deadline = Clock::now() + kAnswerWait;
    DbusError error;
    auto bus = DbusConnection::session(error);
    if (!bus) return failed("session bus: ", error);
    const auto kwin = kwinOwner(*bus, deadline, error);
    if (!kwin) return failed("KWin: ", error);

    std::optional<std::string> answer;
    auto answers = bus->onMethodCalls(
        kListPath,
        [&](sd_bus_message* m) {
            if (!sd_bus_message_is_method_call(m, kListInterface, kListMember)) return 0;
            const char* sender = sd_bus_message_get_sender(m);
            if (sender == nullptr || *kwin != sender) return -EPERM;  // only KWin hands us windows
            const char* json = nullptr;
            if (const int r = sd_bus_message_read(m, "s", &json); r < 0) return r;
            answer = json;
            return sd_bus_reply_method_return(m, "");
        },
        error);
    if (!answers) return failed("session bus: ", error);

    std::string fileError;
    const auto script = ScriptFile::write(listingScript(bus->uniqueName()), fileError);
    if (!script) return {std::nullopt, fileError};
    const std::string name = scriptName();
    const auto loaded = bus->call(deadline, kKwinService, "/Scripting", kScripting, "loadScript", "ss",
                                  script->path().c_str(), name.c_str());
    const Unloading unloading(*bus, name);
    if (!loaded.message) return failed("KWin scripting: ", loaded.error);
    int id = -1;
    if (sd_bus_message_read(loaded.message.get(), "i", &id) < 0 || id < 0)
        return {std::nullopt, "KWin scripting: the listing script was not loaded"};
    if (const DbusError ran = runScript(*bus, id, deadline); !ran.name.empty()) return failed("KWin scripting: ", ran);
    if (!bus->processUntil([&] { return answer.has_value(); }, deadline))
        return {std::nullopt, "KWin scripting: no answer from the listing script"};
    auto windows = listedWindows(*answer);
    if (!windows) return {std::nullopt, "KWin scripting: the listing script's answer is unreadable"};
    return {std::move(windows), {}};
}

std::shared_ptr<WindowRoute> makeKwinRoute() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland == nullptr || *wayland == '\0') return nullptr;
    return std::make_shared<KwinRoute>();
}

}  // namespace tevoli::window
