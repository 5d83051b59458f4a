// The command-line broadcaster's --check: the connection check, printed step by step.
#pragma once

#include "app/cli_options.h"

namespace cli {

// Runs the connection check against the options' server, mount, login and codec, printing each
// step with its verdict as it completes. Runs the event loop until done (at most 30 s). Main
// thread. Returns kExitDone when every step passed, kExitRefused otherwise.
int runConnectionCheck(const CliOptions& options);

}  // namespace cli
