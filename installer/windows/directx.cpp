#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

void Installer::installDirectX() const { throw SetupFailure("This stage is not built yet."); }

} // namespace corvanel
