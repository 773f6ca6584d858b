// SPDX-License-Identifier: GPL-3.0-or-later
// Everything below runs on the watcher's mainloop thread (callbacks, with the mainloop lock held)
// but the constructor, the destructor and snapshot().
#include "capture/pulse_devices.h"

#include <pulse/pulseaudio.h>

#include <utility>

#include "app/ws2s.h"

namespace {

constexpr pa_usec_t RECONNECT_AFTER = PA_USEC_PER_SEC;


// A device's name as the desktop shows it: its description, else its name.
std::wstring shownName(const char* description, const char* name) {
    return utf8ToWide(description != nullptr && *description != '\0' ? description : name != nullptr ? name : "");
}

class PulseDeviceWatcher final : public DeviceWatcher {
public:
    explicit PulseDeviceWatcher(std::function<void()> changed) : DeviceWatcher(std::move(changed)) {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr) return;
        pa_threaded_mainloop_lock(loop_);
        connect();
        const bool started = pa_threaded_mainloop_start(loop_) >= 0;
        pa_threaded_mainloop_unlock(loop_);
        if (!started) {
            dropContext();
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    ~PulseDeviceWatcher() override {
        if (loop_ == nullptr) return;
        pa_threaded_mainloop_lock(loop_);
        stopping_ = true;
        if (retry_ != nullptr) api()->time_free(retry_);
        dropContext();
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }


private:
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

    void connect() {
        context_ = pa_context_new(api(), "Sonabel");
        if (context_ == nullptr) return retryLater();
        pa_context_set_state_callback(context_, onState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) retryLater();
    }

    void dropContext() {
        if (context_ == nullptr) return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        pending_ = 0;
    }

    // The server went away or never answered: its devices with it, and another try in a second.
    void retryLater() {
        dropContext();
        publish(DeviceSnapshot{});
        if (stopping_ || retry_ != nullptr) return;
        timeval when{};
        retry_ = api()->time_new(api(), pa_timeval_add(pa_gettimeofday(&when), RECONNECT_AFTER), onRetry, this);
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
        auto* w = static_cast<PulseDeviceWatcher*>(self);
        api->time_free(event);
        w->retry_ = nullptr;
        if (!w->stopping_ && w->context_ == nullptr) w->connect();
    }

    static void onState(pa_context* context, void* self) {
        auto* w = static_cast<PulseDeviceWatcher*>(self);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY:
                pa_context_set_subscribe_callback(context, onEvent, w);
                pa_operation_unref(pa_context_subscribe(
                    context,
                    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK |
                                                        PA_SUBSCRIPTION_MASK_SERVER),
                    nullptr, nullptr));
                w->query();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                w->retryLater();
                break;
            default:
                break;
        }
    }

    static void onEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* self) {
        static_cast<PulseDeviceWatcher*>(self)->query();
    }

    // Asks for the three lists; a change reported while they are on their way asks again once
    // they are in, so the last answer is always a whole one.
    void query() {
        if (pending_ > 0) {
            again_ = true;
            return;
        }
        building_ = DeviceSnapshot{};
        pending_ = 3;
        track(pa_context_get_server_info(context_, onServer, this));
        track(pa_context_get_source_info_list(context_, onSource, this));
        track(pa_context_get_sink_info_list(context_, onSink, this));
    }

    void track(pa_operation* op) {
        if (op != nullptr) return pa_operation_unref(op);
        done();   // refused: the context is failing, and its state callback follows
    }

    void done() {
        if (--pending_ > 0) return;
        if (again_) {
            again_ = false;
            return query();
        }
        publish(building_);
    }


    static void onServer(pa_context*, const pa_server_info* info, void* self) {
        auto* w = static_cast<PulseDeviceWatcher*>(self);
        if (info != nullptr && info->default_source_name != nullptr) w->building_.defaultInputId = info->default_source_name;
        w->done();
    }

    static void onSource(pa_context*, const pa_source_info* info, int eol, void* self) {
        auto* w = static_cast<PulseDeviceWatcher*>(self);
        if (eol != 0) return w->done();
        if (info != nullptr)
            w->building_.inputs.push_back({info->name, shownName(info->description, info->name),
                                           info->monitor_of_sink != PA_INVALID_INDEX});
    }

    static void onSink(pa_context*, const pa_sink_info* info, int eol, void* self) {
        auto* w = static_cast<PulseDeviceWatcher*>(self);
        if (eol != 0) return w->done();
        if (info != nullptr && info->monitor_source_name != nullptr)
            w->building_.outputs.push_back({info->monitor_source_name, shownName(info->description, info->name)});
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    bool stopping_ = false;
    int pending_ = 0;
    bool again_ = false;
    DeviceSnapshot building_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> makePulseDeviceWatcher(std::function<void()> changed) {
    return std::make_unique<PulseDeviceWatcher>(std::move(changed));
}
