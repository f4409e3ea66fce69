#include "sway_tree.h"

#include <nlohmann/json.hpp>

namespace tevoli::window {
namespace {

using nlohmann::json;

// Fields of the wrong type count as missing: the tree is another program's output.
template <typename T>
std::optional<T> field(const json& node, const char* key) {
    const auto it = node.find(key);
    if (it == node.end()) return std::nullopt;
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string()) return it->get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (it->is_boolean()) return it->get<bool>();
    } else {
        if (it->is_number_integer()) return it->get<T>();
    }
    return std::nullopt;
}

SwayRect rectOf(const json& node) {
    const auto it = node.find("rect");
    if (it == node.end() || !it->is_object()) return {};
    return {field<int>(*it, "x").value_or(0), field<int>(*it, "y").value_or(0), field<int>(*it, "width").value_or(0),
            field<int>(*it, "height").value_or(0)};
}

void collect(const json& node, std::string output, SwayRect outputRect, std::vector<SwayView>& views, int depth) {
    if (!node.is_object() || depth > 64) return;
    if (field<std::string>(node, "type") == "output") {
        output = field<std::string>(node, "name").value_or("");
        outputRect = rectOf(node);
    } else if (const auto pid = field<std::int32_t>(node, "pid")) {
        SwayView view;
        view.conId = field<std::int64_t>(node, "id").value_or(0);
        view.pid = pid;
        view.appId = field<std::string>(node, "app_id").value_or("");
        if (field<std::string>(node, "shell") == "xwayland") {
            view.xid = field<std::uint32_t>(node, "window");
            const auto properties = node.find("window_properties");
            if (properties != node.end() && properties->is_object())
                view.appId = field<std::string>(*properties, "class").value_or("");
        }
        view.title = field<std::string>(node, "name");
        view.rect = rectOf(node);
        view.visible = field<bool>(node, "visible").value_or(false);
        view.output = output;
        view.outputRect = outputRect;
        views.push_back(std::move(view));
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        const auto it = node.find(children);
        if (it == node.end() || !it->is_array()) continue;
        for (const json& child : *it) collect(child, output, outputRect, views, depth + 1);
    }
}

}  // namespace

std::optional<std::vector<SwayView>> swayViews(const std::string& tree) {
    const json root = json::parse(tree, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    std::vector<SwayView> views;
    collect(root, "", {}, views, 0);
    return views;
}

}  // namespace tevoli::window
