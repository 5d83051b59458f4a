#include "platform/native_updater.h"

// No native updater on Linux: the update manager opens the feed in the browser instead.
namespace platform {

bool hasNativeUpdater() { return false; }

bool startNativeUpdater(const NativeUpdaterDetails&, std::string& error) {
    error = "No native updater in this build";
    return false;
}

bool checkNativeUpdaterWithUi(std::string& error) {
    error = "No native updater in this build";
    return false;
}

}  // namespace platform
