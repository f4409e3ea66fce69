#include "sway_screencopy.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unique_fd.h"

namespace tevoli::window {
namespace {

using Clock = WaylandConnection::Clock;
// One copy of a window-sized region takes milliseconds; a compositor this late is stuck.
constexpr std::chrono::seconds kPatience{3};

template <typename... Args>
void ignored(void*, Args...) {}

void outputName(void* data, wl_output*, const char* name) { static_cast<OutputCopier::Output*>(data)->name = name; }

const wl_output_listener kOutputListener{
    ignored<wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const char*, const char*,
            std::int32_t>,
    ignored<wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t>,
    ignored<wl_output*>,
    ignored<wl_output*, std::int32_t>,
    outputName,
    ignored<wl_output*, const char*>,
};

// Shared memory the compositor copies into, mapped for reading.
struct SharedPixels {
    void* map = MAP_FAILED;
    std::size_t size = 0;
    ~SharedPixels() {
        if (map != MAP_FAILED) ::munmap(map, size);
    }
};

// What the compositor said about one copy.
struct Frame {
    bool shm = false;  // a shared-memory buffer is offered
    std::uint32_t format = 0, width = 0, height = 0, stride = 0;
    bool described = false;  // every buffer type has been offered
    bool yInvert = false;
    bool ready = false, failed = false;
};

Frame& frameOf(void* data) { return *static_cast<Frame*>(data); }

const zwlr_screencopy_frame_v1_listener kFrameListener{
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
       std::uint32_t stride) {
        Frame& f = frameOf(data);
        f.shm = true;
        f.format = format;
        f.width = width;
        f.height = height;
        f.stride = stride;
    },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
        frameOf(data).yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
        frameOf(data).ready = true;
    },
    [](void* data, zwlr_screencopy_frame_v1*) { frameOf(data).failed = true; },
    ignored<zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>,
    ignored<zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t>,
    [](void* data, zwlr_screencopy_frame_v1*) { frameOf(data).described = true; },
};

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Rows in our order: bottom-first copies are turned upright.
Image pixelsOf(std::shared_ptr<SharedPixels> pixels, const Frame& frame) {
    Image image;
    image.width = static_cast<int>(frame.width);
    image.height = static_cast<int>(frame.height);
    image.stride = static_cast<int>(frame.stride);
    image.size = pixels->size;
    image.pixels = static_cast<const std::uint8_t*>(pixels->map);
    if (!frame.yInvert) {
        image.storage = std::move(pixels);
        return image;
    }
    std::vector<std::uint8_t> upright(pixels->size);
    for (std::uint32_t row = 0; row < frame.height; ++row)
        std::memcpy(upright.data() + static_cast<std::size_t>(row) * frame.stride,
                    image.pixels + static_cast<std::size_t>(frame.height - 1 - row) * frame.stride, frame.stride);
    auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(upright));
    image.pixels = owned->data();
    image.storage = std::move(owned);
    return image;
}

}  // namespace

OutputCopier::OutputCopier(std::unique_ptr<WaylandConnection> wayland, std::vector<std::unique_ptr<Output>> outputs,
                           WaylandProxy<wl_shm> shm,
                           WaylandProxy<zwlr_screencopy_manager_v1> manager)
    : wayland_(std::move(wayland)), outputs_(std::move(outputs)), shm_(std::move(shm)), manager_(std::move(manager)) {}

std::unique_ptr<OutputCopier> OutputCopier::open(std::string& error) {
    const auto deadline = Clock::now() + kPatience;
    auto wayland = WaylandConnection::open(deadline, error);
    if (!wayland) return nullptr;
    WaylandProxy<zwlr_screencopy_manager_v1> manager(
        static_cast<zwlr_screencopy_manager_v1*>(wayland->bindFirst(zwlr_screencopy_manager_v1_interface, 3)),
        zwlr_screencopy_manager_v1_destroy);
    WaylandProxy<wl_shm> shm(static_cast<wl_shm*>(wayland->bindFirst(wl_shm_interface, 1)), wl_shm_destroy);
    if (!manager || !shm) {
        error = "the compositor offers no screen copy";
        return nullptr;
    }
    std::vector<std::unique_ptr<Output>> outputs;
    for (const auto& global : wayland->globals()) {
        if (global.interface != wl_output_interface.name) continue;
        auto output = std::make_unique<Output>();
        output->proxy.reset(static_cast<wl_output*>(wayland->bind(global, wl_output_interface, 4)));
        wl_output_add_listener(output->proxy.get(), &kOutputListener, output.get());
        outputs.push_back(std::move(output));
    }
    if (!wayland->roundtrip(deadline)) {
        error = "the Wayland display did not answer";
        return nullptr;
    }
    return std::make_unique<OutputCopier>(std::move(wayland), std::move(outputs), std::move(shm), std::move(manager));
}

Outcome<Image> OutputCopier::copy(const std::string& outputName, const SwayRect& region) {
    const auto deadline = Clock::now() + kPatience;
    wl_output* output = nullptr;
    for (const auto& o : outputs_) {
        // An output that does not say its name (wl_output before version 4) is taken when it is the only one.
        if (o->name == outputName || (o->name.empty() && outputs_.size() == 1)) output = o->proxy.get();
    }
    if (output == nullptr) return {std::nullopt, "no output " + outputName};

    Frame frame;
    const WaylandProxy<zwlr_screencopy_frame_v1> copy(
        zwlr_screencopy_manager_v1_capture_output_region(manager_.get(), 0, output, region.x, region.y, region.width,
                                                         region.height),
        zwlr_screencopy_frame_v1_destroy);
    zwlr_screencopy_frame_v1_add_listener(copy.get(), &kFrameListener, &frame);
    // Before version 3 the buffer is described before the next round trip ends.
    const bool described = zwlr_screencopy_manager_v1_get_version(manager_.get()) >= 3
                               ? wayland_->dispatchUntil([&] { return frame.described || frame.failed; }, deadline)
                               : wayland_->roundtrip(deadline);
    if (!described) return {std::nullopt, "the compositor did not answer"};
    if (frame.failed) return {std::nullopt, "the compositor could not copy the window"};
    if (!frame.shm || frame.width == 0 || frame.height == 0 || frame.stride < frame.width * 4)
        return {std::nullopt, "the compositor offers no shared-memory copy"};
    if (frame.format != WL_SHM_FORMAT_XRGB8888 && frame.format != WL_SHM_FORMAT_ARGB8888)
        return {std::nullopt, "unsupported pixel format " + std::to_string(frame.format)};

    auto pixels = std::make_shared<SharedPixels>();
    pixels->size = static_cast<std::size_t>(frame.stride) * frame.height;
    const UniqueFd memory(::memfd_create("tevoli-window-copy", MFD_CLOEXEC));
    if (!memory || ::ftruncate(memory.get(), static_cast<off_t>(pixels->size)) != 0)
        return {std::nullopt, systemError("shared memory")};
    pixels->map = ::mmap(nullptr, pixels->size, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
    if (pixels->map == MAP_FAILED) return {std::nullopt, systemError("shared memory")};
    WaylandProxy<wl_buffer> buffer(nullptr, wl_buffer_destroy);
    {
        const WaylandProxy<wl_shm_pool> pool(
            wl_shm_create_pool(shm_.get(), memory.get(), static_cast<std::int32_t>(pixels->size)), wl_shm_pool_destroy);
        buffer.reset(wl_shm_pool_create_buffer(pool.get(), 0, static_cast<std::int32_t>(frame.width),
                                               static_cast<std::int32_t>(frame.height),
                                               static_cast<std::int32_t>(frame.stride), frame.format));
    }
    zwlr_screencopy_frame_v1_copy(copy.get(), buffer.get());
    if (!wayland_->dispatchUntil([&] { return frame.ready || frame.failed; }, deadline))
        return {std::nullopt, "the compositor did not answer"};
    if (frame.failed) return {std::nullopt, "the compositor could not copy the window"};
    return {pixelsOf(std::move(pixels), frame), {}};
}

}  // namespace tevoli::window
