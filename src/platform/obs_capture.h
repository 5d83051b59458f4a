#pragma once

#include <functional>
#include <string>
#include <vector>

// What the capture manager needs to know about libobs on this operating system: which source
// types capture what, which plug-in modules provide them and where they are installed, and the
// program-audio source type that we register ourselves where the OS has no plug-in for it.
namespace platform {

struct ObsCaptureTypes {
    const char* inputType;      // input devices (microphones, line in)
    const char* outputType;     // what a playback device plays; nullptr where not offered
    const char* programType;    // the audio of one running program
    const char* apiName;        // the audio system's name, for log lines
    bool inputTakesBufferSize;  // whether the input type honours a "buffer_size" setting
};

const ObsCaptureTypes& obsCaptureTypes();

// Base names of the plug-in modules to load (never all of them: some crash at load).
std::vector<std::string> obsCaptureModules();
// "<module>.so", "<module>.dll".
std::string obsModuleFileName(const std::string& module);

// Where the system's libobs keeps its plug-ins and their data ("<dir>/obs-plugins/<module>");
// empty when there is no such place.
std::string obsSystemPluginDirectory();
std::string obsSystemDataDirectory();

// Why libobs cannot start in this session (for example no X display), or "" when it can.
// Main thread. Where a display server is needed, a connection to it is kept open from the
// first successful check on.
std::string obsStartupProblem();

// Watches the display connection that obsStartupProblem() keeps open: `onLost` runs once, on a
// thread of the watch's own, when the display server ends (libobs's own connection to it is then
// dead too, and libobs must not be asked to use it again). Nothing is ever reported where no
// display is involved. Main thread, after obsStartupProblem() succeeded; a later call replaces
// the callback.
void watchObsDisplay(std::function<void()> onLost);
// Any thread, never blocks: whether that display has gone away.
bool obsDisplayLost();

// Main thread, after libobs started up: makes the program-audio type available. Returns false
// when it could not. Safe to call again in the same libobs session.
bool registerObsProgramCaptureType();

}  // namespace platform
