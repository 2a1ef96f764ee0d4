#pragma once

#include "installer/assets/catalogue.h"

namespace corvanel {

/// Window mode: runs the application's event loop and returns the process's exit status.
/// The window's installer trusts `catalogue`.
int runWindow(int argc, char** argv, const Catalogue& catalogue);

} // namespace corvanel
