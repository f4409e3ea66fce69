#include "dbus_connection.h"

#include <cstring>

namespace tevoli {
namespace {

struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    BusError() = default;
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    ~BusError() { sd_bus_error_free(&error); }
};

std::uint64_t remainingMicroseconds(DbusConnection::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - DbusConnection::Clock::now());
    return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

// Reads one basic value of a variant's contents; false when it is of another type.
bool readBasic(sd_bus_message* m, char type, DbusValue& value) {
    auto integer = [&](auto holder) {
        if (sd_bus_message_read_basic(m, type, &holder) < 0) return false;
        value = static_cast<std::int64_t>(holder);
        return true;
    };
    switch (type) {
        case 'y': return integer(std::uint8_t{});
        case 'n': return integer(std::int16_t{});
        case 'q': return integer(std::uint16_t{});
        case 'i': return integer(std::int32_t{});
        case 'u': return integer(std::uint32_t{});
        case 'x': return integer(std::int64_t{});
        case 't': return integer(std::uint64_t{});
        case 'b': {
            int flag = 0;
            if (sd_bus_message_read_basic(m, type, &flag) < 0) return false;
            value = flag != 0;
            return true;
        }
        case 'd': {
            double number = 0;
            if (sd_bus_message_read_basic(m, type, &number) < 0) return false;
            value = number;
            return true;
        }
        case 's':
        case 'o': {
            const char* text = nullptr;
            if (sd_bus_message_read_basic(m, type, &text) < 0) return false;
            value = std::string(text);
            return true;
        }
        default: return false;
    }
}

}  // namespace

std::optional<DbusDict> readDict(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) return std::nullopt;
    DbusDict dict;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* key = nullptr;
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_read_basic(m, 's', &key) < 0 || sd_bus_message_peek_type(m, &type, &contents) < 0)
            return std::nullopt;
        DbusValue value;
        const bool basic = contents != nullptr && std::strlen(contents) == 1;
        if (basic && sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) > 0) {
            if (readBasic(m, contents[0], value)) {
                dict[key] = std::move(value);
            } else {
                sd_bus_message_skip(m, contents);
            }
            sd_bus_message_exit_container(m);
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return std::nullopt;
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    return dict;
}

std::optional<std::int64_t> dictInteger(const DbusDict& dict, const std::string& key) {
    const auto it = dict.find(key);
    if (it == dict.end() || !std::holds_alternative<std::int64_t>(it->second)) return std::nullopt;
    return std::get<std::int64_t>(it->second);
}

std::unique_ptr<DbusConnection> DbusConnection::session(DbusError& error) {
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_user(&bus); r < 0) {
        error = errnoError(r);
        return nullptr;
    }
    return std::make_unique<DbusConnection>(bus);
}

DbusConnection::~DbusConnection() { sd_bus_flush_close_unref(bus_); }

std::string DbusConnection::uniqueName() const {
    const char* name = nullptr;
    return sd_bus_get_unique_name(bus_, &name) >= 0 ? name : "";
}

DbusError DbusConnection::errnoError(int negativeErrno) {
    BusError e;
    sd_bus_error_set_errno(&e.error, -negativeErrno);
    return {e.error.name ? e.error.name : "", e.error.message ? e.error.message : std::strerror(-negativeErrno)};
}

DbusReply DbusConnection::send(DbusMessage message, Clock::time_point deadline) {
    const std::uint64_t timeout = remainingMicroseconds(deadline);
    if (timeout == 0) return {nullptr, errnoError(-ETIMEDOUT)};
    BusError e;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call(bus_, message.get(), timeout, &e.error, &reply);
    if (r >= 0) return {DbusMessage(reply), {}};
    if (!sd_bus_error_is_set(&e.error)) return {nullptr, errnoError(r)};
    return {nullptr, {e.error.name, e.error.message ? e.error.message : ""}};
}

std::unique_ptr<DbusConnection::Subscription> DbusConnection::onMethodCalls(const char* path, Handler handler,
                                                                            DbusError& error) {
    auto subscription = std::make_unique<Subscription>(std::move(handler));
    sd_bus_slot* slot = nullptr;
    if (const int r = sd_bus_add_object(bus_, &slot, path, &Subscription::dispatch, subscription.get()); r < 0) {
        error = errnoError(r);
        return nullptr;
    }
    subscription->slot_.reset(slot);
    return subscription;
}

std::unique_ptr<DbusConnection::Subscription> DbusConnection::onSignal(const char* sender, const char* path,
                                                                      const char* interface, const char* member,
                                                                      Handler handler, DbusError& error) {
    auto subscription = std::make_unique<Subscription>(std::move(handler));
    sd_bus_slot* slot = nullptr;
    // Synchronous: the match is in place before any call whose answer it must see.
    const int r = sd_bus_match_signal(bus_, &slot, sender, path, interface, member, &Subscription::dispatch,
                                      subscription.get());
    if (r < 0) {
        error = errnoError(r);
        return nullptr;
    }
    subscription->slot_.reset(slot);
    return subscription;
}

bool DbusConnection::processUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    for (;;) {
        int r = 0;
        while ((r = sd_bus_process(bus_, nullptr)) > 0) {
            if (done()) return true;
        }
        if (r < 0 || done()) return done();
        const std::uint64_t timeout = remainingMicroseconds(deadline);
        if (timeout == 0 || sd_bus_wait(bus_, timeout) < 0) return done();
    }
}

}  // namespace tevoli
