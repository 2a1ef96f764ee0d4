#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

fs::path Installer::prepareAudio(const fs::path&, const std::optional<fs::path>&, const std::optional<fs::path>&) const { throw SetupFailure("This stage is not built yet."); }

std::optional<fs::path> Installer::localAudio(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

fs::path Installer::prepareCodec(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
