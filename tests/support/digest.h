#pragma once

#include <string>

namespace corvanel::test_support {

/// SHA-256 of `data` in lower-case hexadecimal, computed in one call (independent of the
/// streaming digest under test).
std::string digestOf(const std::string& data);

} // namespace corvanel::test_support
