#pragma once

// User sentences that several tests expect, taken from the product's own constants.

#include "installer/install_lock.h"
#include "installer/runner.h"

#include <string>

namespace corvanel::test_support {

/// What a launcher is told while another one holds the install lock.
inline const std::string competingLauncher{competingLauncherMessage};

/// The same sentence as the command line prints it: one line on the error stream.
inline const std::string competingLauncherLine = competingLauncher + "\n";

/// What a setup or a repair stopped on request says.
inline const std::string setupStopped{setupStoppedMessage};
inline const std::string repairStopped{repairStoppedMessage};

/// What repair says of each part of the private Windows environment it finds missing.
inline constexpr const char* missingSystemRegistry = "The private Windows environment is missing its system registry.";
inline constexpr const char* missingUserRegistry = "The private Windows environment is missing its user registry.";
inline constexpr const char* missingDrives = "The private Windows environment is missing its drive C: or Z:.";

} // namespace corvanel::test_support
