#include "pulse_connection.h"

namespace tevoli {
namespace {

void onContextState(pa_context*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

struct PulseConnection::DefaultsQuery {
    PulseConnection* connection;
    std::list<DefaultsQuery>::iterator self;
    DefaultsDone done;

    static void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
        auto* query = static_cast<DefaultsQuery*>(userdata);
        // Taken out of the list first: `done` may start another query.
        const DefaultsDone done = std::move(query->done);
        query->connection->queries_.erase(query->self);
        if (info == nullptr) return done(std::nullopt);
        PulseDefaults defaults;
        if (info->default_sink_name != nullptr) defaults.sink = info->default_sink_name;
        if (info->default_source_name != nullptr) defaults.source = info->default_source_name;
        done(std::move(defaults));
    }
};

std::unique_ptr<PulseConnection> PulseConnection::open(const char* clientName) {
    auto c = std::make_unique<PulseConnection>();
    c->loop_ = pa_threaded_mainloop_new();
    if (c->loop_ == nullptr) return nullptr;
    c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), clientName);
    if (c->context_ == nullptr) return nullptr;
    pa_context_set_state_callback(c->context_, onContextState, c->loop_);
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
    if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;
    Lock lock(*c);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(c->context_);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) return nullptr;  // Lock is released before the destructor stops the loop
        pa_threaded_mainloop_wait(c->loop_);
    }
    return c;
}

void PulseConnection::stop() {
    if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
}

PulseConnection::~PulseConnection() {
    stop();
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::await(pa_operation* operation) {
    if (operation == nullptr) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

void PulseConnection::queryDefaults(DefaultsDone done) {
    // Kept here, not handed to libpulse: a query cut short by the server's end is
    // never answered.
    DefaultsQuery& query = queries_.emplace_back(DefaultsQuery{this, {}, std::move(done)});
    query.self = std::prev(queries_.end());
    pa_operation* operation = pa_context_get_server_info(context_, DefaultsQuery::onServerInfo, &query);
    if (operation == nullptr) return DefaultsQuery::onServerInfo(context_, nullptr, &query);
    pa_operation_unref(operation);
}

std::optional<PulseDefaults> PulseConnection::defaults() {
    std::optional<PulseDefaults> result;
    bool answered = false;
    queryDefaults([&](std::optional<PulseDefaults> defaults) {
        result = std::move(defaults);
        answered = true;
        pa_threaded_mainloop_signal(loop_, 0);
    });
    while (!answered && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) pa_threaded_mainloop_wait(loop_);
    return result;
}

}  // namespace tevoli
