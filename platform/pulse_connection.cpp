#include "pulse_connection.h"

namespace tevoli {
namespace {

void onContextState(pa_context*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

std::unique_ptr<PulseConnection> PulseConnection::open(const char* clientName, std::string& error) {
    auto c = std::make_unique<PulseConnection>();
    c->loop_ = pa_threaded_mainloop_new();
    if (c->loop_ == nullptr) {
        error = "cannot create main loop";
        return nullptr;
    }
    c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), clientName);
    if (c->context_ == nullptr) {
        error = "cannot create context";
        return nullptr;
    }
    pa_context_set_state_callback(c->context_, onContextState, c->loop_);
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = c->lastError();
        return nullptr;
    }
    if (pa_threaded_mainloop_start(c->loop_) < 0) {
        error = "cannot start main loop";
        return nullptr;
    }
    Lock lock(*c);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(c->context_);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(c->context_));
            return nullptr;  // Lock is released before the destructor stops the loop
        }
        pa_threaded_mainloop_wait(c->loop_);
    }
    return c;
}

PulseConnection::~PulseConnection() {
    if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

std::string PulseConnection::lastError() const {
    return context_ != nullptr ? pa_strerror(pa_context_errno(context_)) : "no context";
}

bool PulseConnection::await(pa_operation* operation) {
    if (operation == nullptr) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

}  // namespace tevoli
