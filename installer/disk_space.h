#pragma once

#include <cstdint>
#include <optional>

namespace corvanel {

/// What setup needs free on the root's volume before it starts, in bytes.
constexpr std::uintmax_t requiredSpace = 12'000'000'000;

/// Below this many free bytes after a failure, the failure is put down to the full volume.
constexpr std::uintmax_t fullVolumeReserve = 100'000'000;

inline constexpr const char* diskFullMessage
    = "The disk that holds the installation folder is full. Setup needs at least 12 GB of available disk space. "
      "Free some space and retry.";

/// Whether a volume with `available` free bytes counts as full; no figure means not full.
inline bool isFull(std::optional<std::uintmax_t> available)
{
    return available && *available < fullVolumeReserve;
}

} // namespace corvanel
