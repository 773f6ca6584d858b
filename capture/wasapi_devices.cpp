// SPDX-License-Identifier: GPL-3.0-or-later
// The notification callback runs on threads of the audio service and only sets an event; the
// watcher's own thread does the listing, so no COM call is made from inside a callback.
#include "capture/wasapi_devices.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <atomic>
#include <thread>
#include <utility>

#include "app/ws2s.h"

namespace {

// PKEY_Device_FriendlyName, spelt out so no property-key library is needed.
const PROPERTYKEY FRIENDLY_NAME = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

struct CoTaskString {
    LPWSTR p = nullptr;
    ~CoTaskString() { CoTaskMemFree(p); }
};

// Sets `event` for every change that can alter the list.
class EndpointChanges final : public IMMNotificationClient {
public:
    explicit EndpointChanges(HANDLE event) : event_(event) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }   // owned by the watcher
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return changed(); }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY key) override {
        return IsEqualGUID(key.fmtid, FRIENDLY_NAME.fmtid) && key.pid == FRIENDLY_NAME.pid ? changed() : S_OK;
    }

private:
    HRESULT changed() {
        SetEvent(event_);
        return S_OK;
    }
    HANDLE event_;
    std::atomic<ULONG> refs_{1};
};

std::string endpointId(IMMDevice* device) {
    CoTaskString id;
    if (FAILED(device->GetId(&id.p)) || id.p == nullptr) return {};
    try {
        return ws2s(id.p);
    } catch (const std::exception&) {
        return {};
    }
}

std::wstring friendlyName(IMMDevice* device) {
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.out()))) return {};
    PROPVARIANT value;
    PropVariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(store->GetValue(FRIENDLY_NAME, &value)) && value.vt == VT_LPWSTR && value.pwszVal != nullptr)
        name = value.pwszVal;
    PropVariantClear(&value);
    return name;
}

// Calls `each(id, name)` for every active endpoint of `flow`.
template <typename Each>
void listEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow, Each each) {
    ComPtr<IMMDeviceCollection> all;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, all.out())) || FAILED(all->GetCount(&count)))
        return;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(all->Item(i, device.out()))) continue;
        const std::string id = endpointId(device.p);
        if (!id.empty()) each(id, friendlyName(device.p));
    }
}

DeviceSnapshot listDevices(IMMDeviceEnumerator* enumerator) {
    DeviceSnapshot devices;
    ComPtr<IMMDevice> defaultInput;
    if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, defaultInput.out())))
        devices.defaultInputId = endpointId(defaultInput.p);
    listEndpoints(enumerator, eCapture, [&](const std::string& id, std::wstring name) {
        devices.inputs.push_back({id, std::move(name), false});
    });
    listEndpoints(enumerator, eRender, [&](const std::string& id, std::wstring name) {
        devices.outputs.push_back({id, std::move(name)});
    });
    return devices;
}


class WasapiDeviceWatcher final : public DeviceWatcher {
public:
    explicit WasapiDeviceWatcher(std::function<void()> changed)
        : DeviceWatcher(std::move(changed)),
          stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          change_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (stop_ != nullptr && change_ != nullptr) thread_ = std::thread([this] { run(); });
    }

    ~WasapiDeviceWatcher() override {
        if (thread_.joinable()) {
            SetEvent(stop_);
            thread_.join();
        }
        if (stop_ != nullptr) CloseHandle(stop_);
        if (change_ != nullptr) CloseHandle(change_);
    }


private:
    void run() {
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            ComPtr<IMMDeviceEnumerator> enumerator;
            EndpointChanges notifications(change_);
            const bool listed = SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                           __uuidof(IMMDeviceEnumerator),
                                                           reinterpret_cast<void**>(enumerator.out())));
            const bool registered = listed && SUCCEEDED(enumerator->RegisterEndpointNotificationCallback(&notifications));
            const HANDLE events[2] = {stop_, change_};
            for (;;) {
                publish(listed ? listDevices(enumerator.p) : DeviceSnapshot{});
                if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
                // A plug-in brings several notifications at once: one listing for all of them.
                if (WaitForSingleObject(stop_, 50) == WAIT_OBJECT_0) break;
            }
            if (registered) enumerator->UnregisterEndpointNotificationCallback(&notifications);
        }
        if (com) CoUninitialize();
    }


    HANDLE stop_;
    HANDLE change_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> makeWasapiDeviceWatcher(std::function<void()> changed) {
    return std::make_unique<WasapiDeviceWatcher>(std::move(changed));
}
