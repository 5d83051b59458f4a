// Listing the capture devices libobs offers.
#include "audio/capture_devices.h"

#include <QSet>

#include "audio/obs_property_list.h"
#include "platform/obs_capture.h"

std::vector<CaptureDevice> listCaptureDevices() {
    const platform::ObsCaptureTypes& types = platform::obsCaptureTypes();
    std::vector<CaptureDevice> devices;
    QSet<QString> ids;
    // Names and ids come from one walk so they always line up; an item without an id cannot be
    // captured, an item without a name shows its id.
    for (const auto& item : obsPropertyListItems(types.inputType, kObsDeviceIdSetting, true)) {
        if (item.second.isEmpty()) continue;
        ids.insert(item.second);
        devices.push_back(
            {item.first.isEmpty() ? item.second : item.first, item.second, types.inputType});
    }
    if (!types.outputType) return devices;
    for (const auto& item : obsPropertyListItems(types.outputType, kObsDeviceIdSetting, false)) {
        // "default" names the default input as well as the default output: the input keeps it,
        // and the default output stays reachable under its own device id.
        if (item.second.isEmpty() || ids.contains(item.second)) continue;
        ids.insert(item.second);
        const QString name = item.first.isEmpty() ? item.second : item.first;
        devices.push_back(
            {QStringLiteral("Monitor of %1").arg(name), item.second, types.outputType});
    }
    return devices;
}

const char* captureDeviceSourceType(const QString& deviceId) {
    for (const CaptureDevice& device : listCaptureDevices()) {
        if (device.id == deviceId) return device.sourceType;
    }
    return platform::obsCaptureTypes().inputType;
}
