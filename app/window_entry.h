#pragma once

namespace corvanel {

/// Window mode: runs the application's event loop and returns the process's exit status.
int runWindow(int argc, char** argv);

} // namespace corvanel
