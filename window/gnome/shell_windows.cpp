#include "shell_windows.h"

namespace tevoli::window {

Outcome<std::vector<ShellWindow>> shellWindows(DbusConnection& bus, DbusConnection::Clock::time_point deadline) {
    DbusReply reply = bus.call(deadline, "com.tevoli.WindowList", "/com/tevoli/WindowList", "com.tevoli.WindowList",
                               "GetWindows");
    if (!reply.message) return {std::nullopt, reply.error.message};
    sd_bus_message* m = reply.message.get();
    // Mutter id, pid, title, WM class, frame x, y, width, height, its place in a
    // screen cast, client type, XID.
    constexpr const char* kRecord = "(tissiiiiiiuu)";
    std::vector<ShellWindow> windows;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, kRecord) <= 0)
        return {std::nullopt, "the window list has another form"};
    for (;;) {
        ShellWindow w;
        const char* title = nullptr;
        const char* wmClass = nullptr;
        const int r = sd_bus_message_read(m, kRecord, &w.id, &w.pid, &title, &wmClass, &w.x, &w.y, &w.width,
                                          &w.height, &w.contentX, &w.contentY, &w.clientType, &w.xid);
        if (r == 0) break;
        if (r < 0) return {std::nullopt, "the window list has another form"};
        w.title = title;
        w.wmClass = wmClass;
        windows.push_back(std::move(w));
    }
    return {std::move(windows), {}};
}

}  // namespace tevoli::window
