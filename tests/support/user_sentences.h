#pragma once

// User sentences that several tests expect, taken from the product's own constants.

#include "installer/install_lock.h"

#include <string>

namespace corvanel::test_support {

/// What a launcher is told while another one holds the install lock.
inline const std::string competingLauncher{competingLauncherMessage};

/// The same sentence as the command line prints it: one line on the error stream.
inline const std::string competingLauncherLine = competingLauncher + "\n";

} // namespace corvanel::test_support
