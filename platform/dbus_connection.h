#pragma once
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tevoli {

// The suite's one way to speak D-Bus, through sd-bus: the window program's compositor
// routes use it for KWin's scripting and screenshot interfaces, and on GNOME for our
// Shell extension and Mutter's screen cast. sd-bus brings no main loop: a call blocks
// its caller until the reply or a deadline, and incoming calls and signals are handled
// only inside processUntil(). A connection belongs to one thread at a time.

struct SdBusMessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using DbusMessage = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

struct SdBusSlotUnref {
    void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};

// An error as the bus names it ("org.freedesktop.DBus.Error.ServiceUnknown", ...) and its text.
struct DbusError {
    std::string name;
    std::string message;
};

// A reply, or the error that came instead of it.
struct DbusReply {
    DbusMessage message;  // null on error
    DbusError error;
};

// The basic values of an a{sv} dictionary: every integer type widened, strings and
// object paths as text. Values of other types are skipped.
using DbusValue = std::variant<std::int64_t, double, bool, std::string>;
using DbusDict = std::map<std::string, DbusValue>;

// Reads an a{sv} at the message's read position; nothing when the message holds none.
std::optional<DbusDict> readDict(sd_bus_message* message);
// The integer under `key`, when there is one.
std::optional<std::int64_t> dictInteger(const DbusDict& dict, const std::string& key);

class DbusConnection {
public:
    using Clock = std::chrono::steady_clock;
    // Handles one incoming message. For a method call it sends the reply itself
    // (sd_bus_reply_method_return) or returns a negative errno, which goes back as
    // the error reply.
    using Handler = std::function<int(sd_bus_message*)>;

    // A handler that stays registered for as long as this lives.
    class Subscription {
    public:
        explicit Subscription(Handler handler) : handler_(std::move(handler)) {}
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        friend class DbusConnection;
        static int dispatch(sd_bus_message* message, void* self, sd_bus_error*) {
            return static_cast<Subscription*>(self)->handler_(message);
        }
        Handler handler_;
        std::unique_ptr<sd_bus_slot, SdBusSlotUnref> slot_;  // declared last: unregistered first
    };

    // The session bus of DBUS_SESSION_BUS_ADDRESS; null with `error` set when it cannot be had.
    static std::unique_ptr<DbusConnection> session(DbusError& error);
    explicit DbusConnection(sd_bus* bus) : bus_(bus) {}
    ~DbusConnection();
    DbusConnection(const DbusConnection&) = delete;
    DbusConnection& operator=(const DbusConnection&) = delete;

    sd_bus* get() const { return bus_; }
    // Our own name on the bus (":1.42"), for peers that call us back.
    std::string uniqueName() const;

    // Calls a method with arguments as sd_bus_message_append takes them ("ss", a, b;
    // an "h" argument is duplicated into the message) and waits for the reply until
    // `deadline`. Messages that arrive meanwhile wait for processUntil().
    template <typename... Args>
    DbusReply call(Clock::time_point deadline, const char* destination, const char* path, const char* interface,
                   const char* member, const char* types = nullptr, Args... args) {
        sd_bus_message* raw = nullptr;
        int r = sd_bus_message_new_method_call(bus_, &raw, destination, path, interface, member);
        DbusMessage message(raw);
        if (r >= 0 && types != nullptr) r = sd_bus_message_append(raw, types, args...);
        if (r < 0) return {nullptr, errnoError(r)};
        return send(std::move(message), deadline);
    }

    // Method calls to `path` go to `handler` while the subscription lives.
    std::unique_ptr<Subscription> onMethodCalls(const char* path, Handler handler, DbusError& error);
    // Signals that match (null matches anything) go to `handler` while the subscription lives.
    std::unique_ptr<Subscription> onSignal(const char* sender, const char* path, const char* interface,
                                           const char* member, Handler handler, DbusError& error);

    // Handles incoming messages until `done` holds or `deadline` passes; returns `done()`.
    // Returns early when the connection breaks.
    bool processUntil(const std::function<bool()>& done, Clock::time_point deadline);

    static DbusError errnoError(int negativeErrno);

private:
    DbusReply send(DbusMessage message, Clock::time_point deadline);

    sd_bus* bus_;
};

}  // namespace tevoli
