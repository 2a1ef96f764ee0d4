#pragma once

// The one place that knows which operating system we run on. Everything else asks here; each
// system has its own implementation file, chosen when the program is built.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace corvanel::platform {

/// Absolute path of the system archiver that reads tar, ZIP, 7-Zip, cabinets and
/// self-extracting programs with the same -tf / -xf arguments.
std::string archiver();

/// Program and arguments of the check that x86-64 programs can run here.
std::vector<std::string> x86Probe();

/// The sentence setup fails with when that check fails.
std::string x86Missing();

/// Bytes available to the user on the volume holding `path`; nullopt when the platform has no
/// figure. A failing query raises std::system_error.
std::optional<std::uintmax_t> availableCapacity(const std::filesystem::path& path);

/// The installation root used when none is given; its last component is "Corvanel".
std::filesystem::path defaultRoot();

/// Variables that make the archiver read and write file names as UTF-8.
std::map<std::string, std::string> utf8Locale();

// -- The Wine runtime --------------------------------------------------------------------------

/// Where the runtime comes from here: the Wine loaders installed on this computer, in the order
/// they are tried, or nothing when the verified runtime is downloaded and unpacked below the root.
std::optional<std::vector<std::filesystem::path>> systemWineSearch();

/// Whether 32-bit x86 programs run here only through an emulator, which makes Wine slow.
bool emulatesThirtyTwoBit();

/// Variables that only this system's Wine needs, for a runtime unpacked into `runtime`.
std::map<std::string, std::string> wineVariables(const std::filesystem::path& runtime);

/// Whether a variable of the caller's environment is one of this system's own that must not
/// reach Wine (the ones `wineVariables` sets are replaced anyway).
bool isForeignWineVariable(std::string_view name);

// -- Processes and files -----------------------------------------------------------------------

/// Creates a pipe whose two ends are closed on exec; false with errno set on failure.
bool closeOnExecPipe(int ends[2]);

/// A descriptor that becomes readable when the child `pid` ends (always closed on exec), or -1
/// where the system has none; callers then poll.
int processHandle(pid_t pid);

/// Asks the system to end the calling child when its parent ends. Runs between fork and exec,
/// so it makes async-signal-safe calls only; false where the system has no such request.
bool endWithParent();

/// Copies up to `limit` bytes from `from` to `to` inside the kernel, as read and write would.
/// Returns the bytes copied, or -1 with errno set; EXDEV, ENOSYS, EINVAL and EOPNOTSUPP mean
/// that the caller must copy with read and write instead.
ssize_t copyInKernel(int from, int to, std::size_t limit);

/// The running executable's own path; empty when the system cannot tell.
std::filesystem::path executablePath();

// -- The window ----------------------------------------------------------------------------------

/// Font files the window adds when the system lacks them by family name.
std::vector<std::filesystem::path> iconFontFiles();

// -- Words -------------------------------------------------------------------------------------

/// The word user texts use for the computer: "Mac" on macOS ("your Mac", "this Mac").
std::string computerNoun();

/// The system's name in the window's eyebrow: "MAC SETUP".
std::string systemName();

/// What the computer needs, one requirement a line, as the window lists them.
std::string requirements();

} // namespace corvanel::platform
