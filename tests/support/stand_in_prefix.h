#pragma once

#include <filesystem>

namespace corvanel::test_support {

/// Makes `prefix` hold what the installed-state test asks of a configured prefix, without Wine:
/// both registry files with our settings and the decoder's registration, the core library on
/// both sides, the two drive links and a profile folder of its own. The decoder itself and the
/// game link are left to the caller.
void writeStandInPrefix(const std::filesystem::path& prefix);

} // namespace corvanel::test_support
