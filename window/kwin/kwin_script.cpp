#include "kwin_script.h"

#include <nlohmann/json.hpp>

#include "owner_identity.h"

namespace tevoli::window {
namespace {

// Plasma 6 renamed clientList to windowList; the properties read here kept their names.
// windowId is set for XWayland windows only.
constexpr const char* kScript = R"(
(function () {
    var windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
    var listed = [];
    for (var i = 0; i < windows.length; ++i) {
        var w = windows[i];
        var frame = w.frameGeometry;
        listed.push({internalId: String(w.internalId), pid: w.pid || 0, caption: String(w.caption || ""),
                     resourceClass: String(w.resourceClass || ""), desktopFileName: String(w.desktopFileName || ""),
                     width: frame.width, height: frame.height, windowId: w.windowId || 0,
                     normal: Boolean(w.normalWindow || w.dialog),
                     shown: !w.minimized && w.onCurrentDesktop !== false});
    }
    callDBus(BUS_NAME, PATH, INTERFACE, MEMBER, JSON.stringify(listed));
})();
)";

std::string quoted(const char* text) { return nlohmann::json(text).dump(); }

}  // namespace

std::string listingScript(const std::string& busName) {
    return "var BUS_NAME = " + quoted(busName.c_str()) + ", PATH = " + quoted(kListPath) +
           ", INTERFACE = " + quoted(kListInterface) + ", MEMBER = " + quoted(kListMember) + ";" + kScript;
}

std::optional<std::vector<RouteWindow>> listedWindows(const std::string& json) try {
    const nlohmann::json listed = nlohmann::json::parse(json);
    if (!listed.is_array()) return std::nullopt;
    OwnerIdentities identities;
    std::vector<RouteWindow> windows;
    for (const nlohmann::json& w : listed) {
        const auto id = w.value("internalId", nlohmann::json());
        const auto pid = w.value("pid", nlohmann::json());
        const auto width = w.value("width", nlohmann::json());
        const auto height = w.value("height", nlohmann::json());
        const auto xid = w.value("windowId", nlohmann::json());
        if (!id.is_string() || !pid.is_number_integer() || !width.is_number() || !height.is_number() ||
            !xid.is_number_unsigned())
            continue;
        RouteWindow route;
        route.handle = id.get<std::string>();
        ShareableWindow& window = route.window;
        const auto x = xid.get<std::uint64_t>();
        window.id = x != 0 && x < kNativeWindowBit ? static_cast<std::uint32_t>(x) : nativeWindowId(route.handle);
        window.layer = w.value("normal", false) ? 0 : 1;
        window.width = width.get<double>();
        window.height = height.get<double>();
        // The class is the app id of a native window; the desktop file name where it has none.
        window.appName = w.value("resourceClass", "");
        if (window.appName.empty()) window.appName = w.value("desktopFileName", "");
        const auto owner = pid.get<std::int64_t>();
        window.bundleId = identities.of(owner > 0 && owner <= INT32_MAX ? std::optional<std::int32_t>(owner)
                                                                         : std::nullopt,
                                        window.appName);
        window.title = w.value("caption", "");
        window.onScreen = w.value("shown", false);
        windows.push_back(std::move(route));
    }
    return windows;
} catch (const nlohmann::json::exception&) {
    return std::nullopt;
}

}  // namespace tevoli::window
