#include "platform/audio_output_devices.h"

// clang-format off
#include <windows.h>
#include <initguid.h>  // defines the property key below in this file instead of needing a library
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>
// clang-format on

namespace platform {

namespace {

std::string toUtf8(const wchar_t* text) {
    if (!text || !*text) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size - 1));  // drop the terminating NUL
    return utf8;
}

// Releases a COM interface when the scope ends, whatever path leaves it.
template <typename T>
class ComRelease {
public:
    ComRelease() = default;
    ~ComRelease() {
        if (m_pointer) m_pointer->Release();
    }
    ComRelease(const ComRelease&) = delete;
    ComRelease& operator=(const ComRelease&) = delete;
    T** out() { return &m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

private:
    T* m_pointer = nullptr;
};

void readDevice(IMMDevice* device, AudioOutputDeviceList& result) {
    std::string id;
    LPWSTR rawId = nullptr;
    if (SUCCEEDED(device->GetId(&rawId)) && rawId) {
        id = toUtf8(rawId);
        CoTaskMemFree(rawId);
    }
    ComRelease<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.out())) || !store) return;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR) {
        std::string name = toUtf8(value.pwszVal);
        if (!name.empty()) result.devices.push_back({std::move(name), std::move(id)});
    }
    PropVariantClear(&value);
}

}  // namespace

AudioOutputDeviceList listAudioOutputDevices() {
    AudioOutputDeviceList result;
    // COM may already run in another apartment mode on this thread; then use it as it is and
    // leave its uninitialisation to whoever started it.
    const HRESULT comInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        ComRelease<IMMDeviceEnumerator> enumerator;
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    __uuidof(IMMDeviceEnumerator),
                                    reinterpret_cast<void**>(enumerator.out()))) ||
            !enumerator) {
            result.error = "Failed to create CoreAudio device enumerator";
        } else {
            ComRelease<IMMDeviceCollection> collection;
            if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE,
                                                      collection.out())) ||
                !collection) {
                result.error = "Failed to enumerate CoreAudio endpoints";
            } else {
                UINT count = 0;
                if (FAILED(collection->GetCount(&count))) count = 0;
                for (UINT i = 0; i < count; ++i) {
                    ComRelease<IMMDevice> device;
                    if (FAILED(collection->Item(i, device.out())) || !device) continue;
                    readDevice(device.operator->(), result);
                }
            }
        }
    }
    if (SUCCEEDED(comInit)) CoUninitialize();
    return result;
}

std::vector<std::string> monitorSinkFactoryNames() { return {"wasapisink", "autoaudiosink"}; }

// Each wasapisink owns what it opens; nothing is shared between them.
std::shared_ptr<void> holdMonitorSinkService() { return nullptr; }

std::string monitorSinkClientName() { return {}; }

std::shared_ptr<void> renewMonitorSinkService() { return nullptr; }

}  // namespace platform
