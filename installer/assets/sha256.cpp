#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

std::string Installer::sha256(const fs::path&) { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
