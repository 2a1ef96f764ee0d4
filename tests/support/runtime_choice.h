#pragma once

#include "installer/installer.h"

#include <filesystem>
#include <utility>
#include <vector>

namespace corvanel::test_support {

/// What this computer answers with the download-and-unpack runtime in place of the computer's Wine.
inline HostQueries downloadedRuntime(HostQueries host = HostQueries::platform())
{
    host.systemWine.reset();
    return host;
}

/// What this computer answers with the computer's Wine searched for at `loaders` only.
inline HostQueries wineAt(std::vector<std::filesystem::path> loaders, HostQueries host = HostQueries::platform())
{
    host.systemWine = std::move(loaders);
    return host;
}

} // namespace corvanel::test_support
