#pragma once

// Every name the program gives below the installation root, defined once. The checks of what
// each part must be live in installed_parts.h; the places come from here.

#include <cstdint>
#include <string_view>

namespace corvanel::layout {

// The root's own entries.
inline constexpr const char* install = "Install";
inline constexpr const char* runtime = "Runtime";
inline constexpr const char* logs = "Logs";
inline constexpr const char* downloads = "Downloads";
inline constexpr const char* audioImport = "Audio-import";
inline constexpr const char* record = "installed.json";
inline constexpr const char* lock = "launcher.lock";

/// Everything setup puts directly below the root, in the order a listing shows it.
inline constexpr std::string_view rootEntries[] = {install, runtime, logs, downloads, audioImport, record, lock};

// Below Install.
inline constexpr const char* gameFolder = "game";
inline constexpr const char* prefixFolder = "prefix";

// Below Runtime (the downloaded runtime; on a system with its own Wine the folder stays empty).
inline constexpr const char* runtimeBundle = "wswine.bundle";
inline constexpr const char* runtimeLibraries = "lib";

// Below Logs.
inline constexpr const char* setupLog = "setup.log";
inline constexpr const char* gameLog = "halo2.log";
/// A program's output is captured in "capture-UUID.txt" until it is copied into the setup log.
inline constexpr std::string_view captureStart = "capture-";
inline constexpr std::string_view captureEnd = ".txt";

/// The verified decoder kept below Audio-import for repairs, and its name inside the package.
inline constexpr const char* keptDecoder = "wmadmod.dll";
inline constexpr const char* packagedDecoder = "WMADMOD.DLL";

/// Where the prefix holds the decoder, below the prefix folder.
inline constexpr const char* prefixDecoder = "drive_c/windows/syswow64/wmadmod.dll";

// A stage fills a folder named by one of these and a UUID, then renames it into place; one left
// by an interrupted stage is swept away by the next run.
inline constexpr std::string_view gameStaging = "Game-staging-";
inline constexpr std::string_view runtimeStaging = "Runtime-staging-";
inline constexpr std::string_view directxStaging = "DirectX-staging-";
inline constexpr std::string_view stagingPrefixes[] = {gameStaging, runtimeStaging, directxStaging};

/// The record's format number; a record of another format is not ours to read.
inline constexpr std::int64_t recordFormat = 1;

} // namespace corvanel::layout
