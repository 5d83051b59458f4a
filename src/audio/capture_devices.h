#pragma once

// The devices a deck can capture: input devices, then what each playback device plays, each
// with the libobs source type that captures it.

#include <QString>

#include <vector>

// The setting of the device source types that names the device.
inline constexpr char kObsDeviceIdSetting[] = "device_id";

struct CaptureDevice {
    QString name;  // shown to the user; "Monitor of ..." for what a playback device plays
    QString id;    // libobs's device id
    const char* sourceType;
};

// Main thread, libobs running. Input devices first, then (where the platform offers it) the
// playback monitors; an id appears once. Asks the sound server and may block briefly.
std::vector<CaptureDevice> listCaptureDevices();

// The source type that lists `deviceId`; the input type for an id nobody lists. Same thread
// and cost as listCaptureDevices.
const char* captureDeviceSourceType(const QString& deviceId);
