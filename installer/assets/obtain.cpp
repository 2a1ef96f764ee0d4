#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

fs::path Installer::obtain(const RuntimeAsset&, const std::optional<fs::path>&) const { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
