#pragma once

#include <memory>
#include <string>
#include <vector>

// Local playback devices for the mixer's monitor output, and the audio sink that plays on them.
namespace platform {

struct AudioOutputDevice {
    std::string name;  // what the user sees, UTF-8
    std::string id;    // what the monitor sink's "device" property takes, UTF-8
};

struct AudioOutputDeviceList {
    std::vector<AudioOutputDevice> devices;  // active playback devices, in system order
    std::string error;                       // why the list is empty, when it could not be read
};

// Main thread (it may talk to the audio service; normally a few milliseconds). GStreamer must
// be initialised. Names may repeat; callers keep the first of each.
AudioOutputDeviceList listAudioOutputDevices();

// GStreamer factory names of the monitor sink, best first. Each takes a device id in its
// "device" property; an unset (null) device means the system default.
std::vector<std::string> monitorSinkFactoryNames();

// Keeps what the monitor sinks share in the process alive for as long as a copy of the result
// exists (the last copy lets go). Hold it from before the first monitor sink opens until after
// the last one closed. GStreamer must be initialised; may be null where nothing needs holding.
std::shared_ptr<void> holdMonitorSinkService();

// The name the monitor sinks connect to the audio service with (the sink's "client-name"), or ""
// where it does not matter. It changes with every renewal.
std::string monitorSinkClientName();

// After the audio service went away and came back: a hold on a fresh connection under a new
// client name, for the sinks opened from now on (the connection of the old hold is dead, and
// every sink of the old name would be given it again). Take it before letting the old hold
// go, so the two overlap. Null when the service cannot be reached (yet), or where there is
// nothing to hold.
std::shared_ptr<void> renewMonitorSinkService();

}  // namespace platform
