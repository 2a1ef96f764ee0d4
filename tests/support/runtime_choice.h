#pragma once

#include "installer/installer.h"

#include <filesystem>
#include <utility>
#include <vector>

namespace corvanel::testing {

/// The platform's seams with the download-and-unpack runtime in place of the computer's Wine.
inline Seams downloadedRuntime(Seams seams = Seams::platform())
{
    seams.systemWine.reset();
    return seams;
}

/// The platform's seams with the computer's Wine searched for at `loaders` only.
inline Seams wineAt(std::vector<std::filesystem::path> loaders, Seams seams = Seams::platform())
{
    seams.systemWine = std::move(loaders);
    return seams;
}

} // namespace corvanel::testing
