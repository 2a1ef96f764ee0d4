#pragma once

#include "installer/installer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvanel::test_support {

/// A file or folder of the fixture kit.
std::filesystem::path fixture(const std::filesystem::path& relative);

/// Runs a helper program for a test (not through the installer, so its log stays untouched);
/// raises std::runtime_error on a non-zero exit.
void runTool(const std::string& executable, const std::vector<std::string>& arguments);

/// Copies the fixture game folder to `root`/Install/game.
void copyFixtureGame(const std::filesystem::path& root);

/// Unpacks the fixture engine into `root`/Runtime, so `root`/Runtime/wswine.bundle/bin/wine runs.
void unpackFixtureEngine(const std::filesystem::path& root);

/// How many programs the installer started, read from its setup log.
int startedPrograms(const Installer& installer);

/// SHA-256 of a file as 64 lower-case hexadecimal digits, computed here independently.
std::string digestOf(const std::filesystem::path& file);

/// Entries directly in `folder` whose names begin with `prefix`, sorted.
std::vector<std::string> entriesStartingWith(const std::filesystem::path& folder, const std::string& prefix);

} // namespace corvanel::test_support
