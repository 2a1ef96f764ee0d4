#pragma once

#include "installer/assets/catalogue.h"

#include <ostream>
#include <string>
#include <vector>

namespace corvanel {

/// Command-line mode: performs one operation (install, launch or status) named by
/// `arguments` (the whole argument list, program first) and returns the exit status.
/// Progress goes to `out`, the failure message to `err`.
int runCLI(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const Catalogue& catalogue = releaseCatalogue());

} // namespace corvanel
