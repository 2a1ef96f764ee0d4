#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

void Installer::configurePrefix(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
