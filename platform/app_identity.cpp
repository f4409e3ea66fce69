#include "app_identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <string_view>

#ifndef TEVOLI_HOST_BUNDLE_ID
#error "TEVOLI_HOST_BUNDLE_ID must name the host application's identifier"
#endif

namespace tevoli {
namespace {

struct Translation {
    std::string_view raw;
    std::string_view identifier;
};

// Linux names of the applications the host knows under other identifiers; the
// meeting applications among them are those of common/meeting_apps.cpp.
constexpr std::array kTranslations{
    Translation{"zoom", "us.zoom.xos"},
    Translation{"us.zoom.Zoom", "us.zoom.xos"},
    Translation{"zoom-client", "us.zoom.xos"},
    Translation{"teams", "com.microsoft.teams"},
    Translation{"teams-for-linux", "com.microsoft.teams2"},
    Translation{"com.github.IsmaelMartinez.teams_for_linux", "com.microsoft.teams2"},
    Translation{"CiscoCollabHost", "com.cisco.webexmeetingsapp"},
    Translation{"webex", "com.cisco.webexmeetingsapp"},
    Translation{"google-chrome", "com.google.Chrome"},
    Translation{"com.google.Chrome", "com.google.Chrome"},
    Translation{"google-chrome-beta", "com.google.Chrome.beta"},
    Translation{"firefox", "org.mozilla.firefox"},
    Translation{"firefox-esr", "org.mozilla.firefox"},
    Translation{"firefox-bin", "org.mozilla.firefox"},
    Translation{"org.mozilla.firefox", "org.mozilla.firefox"},
    Translation{"msedge", "com.microsoft.edgemac"},
    Translation{"microsoft-edge", "com.microsoft.edgemac"},
    Translation{"com.microsoft.Edge", "com.microsoft.edgemac"},
    Translation{"brave", "com.brave.Browser"},
    Translation{"brave-browser", "com.brave.Browser"},
    Translation{"com.brave.Browser", "com.brave.Browser"},
    Translation{"tevoli", TEVOLI_HOST_BUNDLE_ID},
};

// Chrome's stable and beta channels ship the same executable name in different folders.
constexpr std::array kChromeFolders{
    Translation{"/opt/google/chrome/", "com.google.Chrome"},
    Translation{"/opt/google/chrome-beta/", "com.google.Chrome.beta"},
};

// Process files are tiny; the cap only guards against a strange tree.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::optional<std::string> readSmallFile(const std::string& path) {
    // Non-blocking so a FIFO in a strange tree cannot stall us.
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < kMaxFileBytes) {
        const ssize_t n = read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        // A short read is the end of a proc file (it is produced whole) or a regular
        // one; saving the extra read per process matters with hundreds of them.
        if (static_cast<std::size_t>(n) < sizeof buffer) break;
    }
    return text;
}

std::optional<std::string> readLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        if (target.size() >= 65536) return std::nullopt;
        target.resize(target.size() * 2);
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// systemd escapes unit-name characters as \xNN.
std::string unescapeUnitName(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool escape = name.substr(i, 2) == "\\x" && i + 3 < name.size();
        const int high = escape ? hexValue(name[i + 2]) : -1;
        const int low = escape ? hexValue(name[i + 3]) : -1;
        if (high >= 0 && low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "app-flatpak-<ID>-<n>.scope" gives <ID>.
std::optional<std::string> flatpakId(std::string_view unit) {
    constexpr std::string_view prefix = "app-flatpak-", suffix = ".scope";
    if (!unit.starts_with(prefix) || !unit.ends_with(suffix)) return std::nullopt;
    unit.remove_prefix(prefix.size());
    unit.remove_suffix(suffix.size());
    const auto dash = unit.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || !allDigits(unit.substr(dash + 1))) return std::nullopt;
    return unescapeUnitName(unit.substr(0, dash));
}

// "snap.<name>.<app>..." gives <name>.
std::optional<std::string> snapName(std::string_view unit) {
    constexpr std::string_view prefix = "snap.";
    if (!unit.starts_with(prefix)) return std::nullopt;
    unit.remove_prefix(prefix.size());
    const auto dot = unit.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == unit.size()) return std::nullopt;
    return std::string(unit.substr(0, dot));
}

// The sandbox's application name from a /proc/<pid>/cgroup text (v1 or v2 lines).
std::optional<std::string> sandboxIdentity(std::string_view cgroups) {
    std::optional<std::string> snap;
    while (!cgroups.empty()) {
        const auto end = cgroups.find('\n');
        std::string_view line = cgroups.substr(0, end);
        cgroups.remove_prefix(end == std::string_view::npos ? cgroups.size() : end + 1);
        // "<hierarchy>:<controllers>:<path>"
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        std::string_view path = line.substr(second + 1);
        while (!path.empty()) {
            const auto slash = path.find('/');
            const std::string_view unit = path.substr(0, slash);
            path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
            if (auto id = flatpakId(unit)) return id;
            if (!snap) snap = snapName(unit);
        }
    }
    return snap;
}

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The host's identifier for a raw identity (flatpak id, snap name or executable base
// name); `executable` is the full path when the identity came from it, else empty.
std::string translateIdentity(const std::string& raw, const std::string& executable = "") {
    if (raw == "chrome") {
        for (const auto& folder : kChromeFolders)
            if (executable.starts_with(folder.raw)) return std::string(folder.identifier);
    }
    for (const auto& t : kTranslations)
        if (t.raw == raw) return std::string(t.identifier);
    return raw;
}

}  // namespace

std::optional<std::string> appIdentifier(int pid, const std::string& procRoot) {
    const std::string dir = procRoot + "/" + std::to_string(pid) + "/";
    // No executable to read: a kernel thread, a zombie, a process gone or not ours.
    auto executable = readLink(dir + "exe");
    if (!executable) return std::nullopt;
    if (auto cgroups = readSmallFile(dir + "cgroup")) {
        if (auto id = sandboxIdentity(*cgroups)) return translateIdentity(*id);
    }
    // An executable replaced on disk (an upgrade) keeps running under its old name.
    constexpr std::string_view deleted = " (deleted)";
    if (executable->ends_with(deleted)) executable->resize(executable->size() - deleted.size());
    const std::string name(baseName(*executable));
    if (name.empty()) return std::nullopt;
    return translateIdentity(name, *executable);
}

std::string appIdentifierOfName(const std::string& name) { return translateIdentity(name); }

std::vector<int> processIds(const std::string& procRoot) {
    std::vector<int> ids;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(procRoot.c_str()), closedir);
    if (!dir) return ids;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (!allDigits(name) || name.size() > 9) continue;
        ids.push_back(std::stoi(std::string(name)));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace tevoli
