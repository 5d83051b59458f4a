#include "platform/obs_capture.h"

#include <obs.h>

// Windows ships every capture type we need as libobs plug-ins: input and program capture come
// from the WASAPI module.
namespace platform {

const ObsCaptureTypes& obsCaptureTypes() {
    static const ObsCaptureTypes types{"wasapi_input_capture", nullptr,
                                       "wasapi_process_output_capture", "WASAPI", true};
    return types;
}

std::vector<std::string> obsCaptureModules() { return {"win-wasapi"}; }

std::string obsModuleFileName(const std::string& module) { return module + ".dll"; }

// The plug-ins ship beside the executable; there is no system-wide libobs installation.
std::string obsSystemPluginDirectory() { return {}; }

std::string obsSystemDataDirectory() { return {}; }

std::string obsStartupProblem() { return {}; }

// libobs needs no display connection on Windows: there is nothing to lose.
void watchObsDisplay(std::function<void()>) {}

bool obsDisplayLost() { return false; }

bool registerObsProgramCaptureType() {
    // Provided by win-wasapi on Windows 10 2004 and later; older systems simply list no programs.
    return obs_source_get_display_name("wasapi_process_output_capture") != nullptr;
}

}  // namespace platform
