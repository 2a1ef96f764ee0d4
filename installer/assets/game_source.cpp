#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

fs::path Installer::gameInput(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

std::optional<fs::path> Installer::locateGame(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

void Installer::validateGame(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
