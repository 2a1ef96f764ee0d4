#pragma once

// What the benchmark programs share: timing, medians and incompressible test data.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace corvanel::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

/// Writes `bytes` pseudo-random (incompressible) bytes to `file`, creating its folders;
/// `state` carries the generator from one file to the next.
inline void writeRandomFile(const std::filesystem::path& file, std::uint64_t bytes, std::uint64_t& state)
{
    std::filesystem::create_directories(file.parent_path());
    std::vector<std::uint64_t> block(1 << 17);
    std::ofstream out(file, std::ios::binary);
    for (std::uint64_t left = bytes; left > 0;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const std::uint64_t chunk = std::min<std::uint64_t>(left, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
        left -= chunk;
    }
}

} // namespace corvanel::bench
