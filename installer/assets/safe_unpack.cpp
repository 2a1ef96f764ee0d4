#include "installer/installer.h"
#include "installer/setup_failure.h"

namespace corvanel {

bool Installer::safeArchiveEntry(std::string_view) { return false; }

void Installer::unpackUserArchive(const fs::path&, const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

void Installer::rejectSymlinks(const fs::path&) const { throw SetupFailure("This stage is not built yet."); }

std::int64_t Installer::extractedBytes(const fs::path&) const { return 0; }

} // namespace corvanel
