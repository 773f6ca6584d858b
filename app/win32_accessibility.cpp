// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 shell for screen readers (MSAA, which UI Automation reads through its proxy). Buttons
// and static texts are read from their window texts as they are. The owner-drawn level meter and
// the GL views' containers are STATIC controls that show no text: each answers WM_GETOBJECT with
// the standard object of its window wrapped, its name, description, role and (the meter's) value
// replaced, the value read afresh whenever asked. The status and activity lines are polite live
// regions. GUI thread, which has joined a COM apartment (WinMain).
#include <new>

#include <oleacc.h>

#include "app/accessibility.h"
#include "app/app_state.h"
#include "app/win32_shell.h"

namespace {

struct Exposed {
    const wchar_t* name;
    const wchar_t* description;
    long role;
    bool hasValue;   // the meter's reading
};
const Exposed METER{INPUT_LEVEL_NAME, INPUT_LEVEL_DESCRIPTION, ROLE_SYSTEM_PROGRESSBAR, true};
const Exposed WAVEFORM_VIEW{WAVEFORM_VIEW_NAME, WAVEFORM_VIEW_DESCRIPTION, ROLE_SYSTEM_CHART, false};
const Exposed SPECTROGRAM_VIEW{SPECTROGRAM_VIEW_NAME, SPECTROGRAM_VIEW_DESCRIPTION, ROLE_SYSTEM_CHART, false};

// Identifiers by value (as oleacc.h gives them): liboleacc and libuuid both define some of these
// symbols, and a program that needs both (COM, WASAPI) cannot link the two definitions.
constexpr GUID ACC_PROP_SERVICES_CLASS = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID ACC_PROP_SERVICES_INTERFACE = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
// UI Automation's LiveSetting property (uiautomationcoreapi.h, which mingw-w64 lacks) and its
// value Polite.
constexpr GUID LIVE_SETTING_PROPERTY = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LIVE_SETTING_POLITE = 1;

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

HRESULT text(const wchar_t* s, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = SysAllocString(s);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The standard object with our name, description, role and value; everything else is its own.
class ExposedAccessible final : public IAccessible {
public:
    ExposedAccessible(IAccessible* standard, const Exposed& facts) : standard_(standard), facts_(facts) {}
    ExposedAccessible(const ExposedAccessible&) = delete;
    ExposedAccessible& operator=(const ExposedAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IDispatch)) ||
            IsEqualIID(riid, __uuidof(IAccessible))) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return standard_->QueryInterface(riid, out);   // IOleWindow, IEnumVARIANT: the window's
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            standard_->Release();
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return standard_->GetTypeInfoCount(n); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return standard_->GetTypeInfo(i, l, t); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
        return standard_->GetIDsOfNames(r, n, c, l, d);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                                     UINT* a) override {
        return standard_->Invoke(d, r, l, f, p, v, e, a);
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return isSelf(child) ? text(facts_.name, name) : standard_->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return isSelf(child) ? text(facts_.description, description) : standard_->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!isSelf(child) || role == nullptr) return standard_->get_accRole(child, role);
        role->vt = VT_I4;
        role->lVal = facts_.role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!isSelf(child) || !facts_.hasValue) return standard_->get_accValue(child, value);
        return text(levelReadingText(levelDecibels(currentLevel.load())).c_str(), value);
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override { return standard_->get_accParent(p); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* n) override { return standard_->get_accChildCount(n); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** d) override { return standard_->get_accChild(c, d); }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT c, VARIANT* s) override { return standard_->get_accState(c, s); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override { return standard_->get_accHelp(c, h); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, long* t) override {
        return standard_->get_accHelpTopic(f, c, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override {
        return standard_->get_accKeyboardShortcut(c, k);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* c) override { return standard_->get_accFocus(c); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* c) override { return standard_->get_accSelection(c); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override {
        return standard_->get_accDefaultAction(c, a);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long f, VARIANT c) override { return standard_->accSelect(f, c); }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT c) override {
        return standard_->accLocation(x, y, w, h, c);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long d, VARIANT s, VARIANT* e) override { return standard_->accNavigate(d, s, e); }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* c) override { return standard_->accHitTest(x, y, c); }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override { return standard_->accDoDefaultAction(c); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override { return standard_->put_accName(c, n); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override { return standard_->put_accValue(c, v); }

private:
    LONG refs_ = 1;
    IAccessible* standard_;   // one reference, released with the last of ours
    const Exposed& facts_;
};

// The controls answering for themselves, with the procedure of their class they were made with.
struct Subclassed {
    HWND hwnd = nullptr;
    WNDPROC original = nullptr;
    const Exposed* facts = nullptr;
};
Subclassed subclassed[3];   // GUI thread

LRESULT CALLBACK exposedProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Subclassed* s = nullptr;
    for (Subclassed& c : subclassed)
        if (c.hwnd == hwnd) s = &c;
    if (s == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    const WNDPROC original = s->original;
    // The object id arrives as a DWORD in lParam, whatever lParam's width.
    if (msg == WM_GETOBJECT && static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
        IAccessible* standard = nullptr;
        if (SUCCEEDED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&standard)))) {
            auto* exposed = new (std::nothrow) ExposedAccessible(standard, *s->facts);
            if (exposed == nullptr) {
                standard->Release();
                return 0;
            }
            const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, exposed);
            exposed->Release();   // the result holds its own reference
            return result;
        }
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        *s = Subclassed();
    }
    return CallWindowProcW(original, hwnd, msg, wParam, lParam);
}

void answerForItself(Subclassed& slot, HWND control, const Exposed& facts) {
    slot.hwnd = control;
    slot.facts = &facts;
    slot.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(exposedProc)));
}

}  // namespace

void exposeControlsToScreenReaders() {
    answerForItself(subclassed[0], hwndVolumeMeter, METER);
    answerForItself(subclassed[1], hwndWaveformGLContainer, WAVEFORM_VIEW);
    answerForItself(subclassed[2], hwndSpectrumGLContainer, SPECTROGRAM_VIEW);
    // Dynamic annotation: the annotations outlive the service object, and go with the windows.
    // Where the service is missing (before Windows 8, Wine) the lines are plain static texts.
    IAccPropServices* props = nullptr;
    if (FAILED(CoCreateInstance(ACC_PROP_SERVICES_CLASS, nullptr, CLSCTX_INPROC_SERVER, ACC_PROP_SERVICES_INTERFACE,
                                reinterpret_cast<void**>(&props))))
        return;
    VARIANT polite;
    VariantInit(&polite);
    polite.vt = VT_I4;
    polite.lVal = LIVE_SETTING_POLITE;
    for (HWND line : {hwndStatus, hwndActivity})
        props->SetHwndProp(line, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, LIVE_SETTING_PROPERTY, polite);
    props->Release();
}

void notifyLevelReading() {
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwndVolumeMeter, OBJID_CLIENT, CHILDID_SELF);
}

void notifyLiveRegion(HWND line) {
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, line, OBJID_CLIENT, CHILDID_SELF);
}
