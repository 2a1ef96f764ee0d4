#include "installer/assets/byte_count.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace corvanel {

namespace {

struct Unit {
    std::string_view name;
    int decimals;
};

constexpr std::array<Unit, 6> units = {{
    {"KB", 0},
    {"MB", 1},
    {"GB", 2},
    {"TB", 2},
    {"PB", 2},
    {"EB", 2},
}};

std::string withDecimals(unsigned __int128 scaled, int decimals)
{
    unsigned __int128 factor = 1;
    for (int i = 0; i < decimals; ++i)
        factor *= 10;
    std::string text = std::to_string(static_cast<std::uint64_t>(scaled / factor));
    std::string fraction;
    auto rest = static_cast<std::uint64_t>(scaled % factor);
    for (int i = decimals - 1; i >= 0; --i) {
        fraction.insert(fraction.begin(), static_cast<char>('0' + rest % 10));
        rest /= 10;
    }
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? text : text + "." + fraction;
}

std::string magnitude(std::uint64_t bytes)
{
    if (bytes == 0)
        return "Zero KB";
    if (bytes == 1)
        return "1 byte";
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";

    // Exact integer rounding (half up) at each unit's precision; a result of 1000 or more moves on.
    unsigned __int128 unitSize = 1000;
    for (size_t i = 0; i < units.size(); ++i, unitSize *= 1000) {
        unsigned __int128 factor = 1;
        for (int d = 0; d < units[i].decimals; ++d)
            factor *= 10;
        const unsigned __int128 scaled = (static_cast<unsigned __int128>(bytes) * factor + unitSize / 2) / unitSize;
        if (scaled < 1000 * factor || i + 1 == units.size())
            return withDecimals(scaled, units[i].decimals) + " " + std::string(units[i].name);
    }
    return {}; // not reached: the last unit takes every remaining size
}

} // namespace

std::string formatByteCount(std::int64_t bytes)
{
    if (bytes < 0)
        return "-" + magnitude(static_cast<std::uint64_t>(-(bytes + 1)) + 1);
    return magnitude(static_cast<std::uint64_t>(bytes));
}

} // namespace corvanel
