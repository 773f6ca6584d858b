// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/pulse_connection.h"

namespace {

void signalLoop(pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

struct SourceQuery {
    pa_threaded_mainloop* loop;
    PulseSourceInfo* info;
    bool found = false;
};

void onServerInfo(pa_context*, const pa_server_info* server, void* query) {
    auto* q = static_cast<SourceQuery*>(query);
    if (server != nullptr && server->default_source_name != nullptr) q->info->name = server->default_source_name;
    pa_threaded_mainloop_signal(q->loop, 0);
}

void onSourceInfo(pa_context*, const pa_source_info* source, int eol, void* query) {
    auto* q = static_cast<SourceQuery*>(query);
    if (eol == 0 && source != nullptr) {
        q->info->spec = source->sample_spec;
        q->info->map = source->channel_map;
        q->info->latency = source->configured_latency;
        q->found = true;
    }
    pa_threaded_mainloop_signal(q->loop, 0);
}

}  // namespace

PulseConnection::~PulseConnection() {
    if (loop_ == nullptr) return;
    if (context_ != nullptr) {
        PulseLock lock(loop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_stop(loop_);   // no-op when it never started
    pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::connect(const char* clientName) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName);
    if (context_ == nullptr) return false;
    pa_context_set_state_callback(context_, signalLoop, loop_);

    PulseLock lock(loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    if (pa_threaded_mainloop_start(loop_) < 0) return false;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

void PulseConnection::await(pa_operation* op) {
    if (op == nullptr) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
}

bool PulseConnection::findSource(const std::string& name, PulseSourceInfo& info) {
    SourceQuery query{loop_, &info};
    info.name = name;
    if (info.name.empty()) await(pa_context_get_server_info(context_, onServerInfo, &query));
    if (info.name.empty()) return false;
    await(pa_context_get_source_info_by_name(context_, info.name.c_str(), onSourceInfo, &query));
    return query.found;
}
