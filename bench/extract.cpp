// Extraction of a large user archive with the live progress line, against the bare archiver.
//
//   bench_extract [BYTES] [FILES] [ROUNDS]    (defaults: 2000000000 5000 3)
//
// Writes FILES files of incompressible data, BYTES in all, archives them with the archiver,
// then times, interleaved: the bare `-xf`, the extraction as setup runs it (through the
// runner with the progress walk every 2 s), and the whole unpackUserArchive (both listings,
// extraction, tree check). Then the cost of one progress walk at 5,000 and 50,000 files.
// Prints one line per figure with its ratio; medians throughout.

#include "bench/bench_support.h"
#include "installer/installer.h"
#include "installer/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace corvanel;

namespace {

using bench::Clock;
using bench::median;
using bench::secondsSince;

/// FILES files of pseudo-random bytes in folders of 100, BYTES in all.
void writeTree(const fs::path& folder, std::uint64_t bytes, int files)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    const std::uint64_t each = bytes / static_cast<std::uint64_t>(files);
    for (int i = 0; i < files; ++i)
        bench::writeRandomFile(folder / ("d" + std::to_string(i / 100)) / ("f" + std::to_string(i) + ".bin"), each,
                               state);
}

int spawnAndWait(const std::vector<std::string>& command)
{
    return ChildProcess::spawn({.executable = command.front(), .arguments = {command.begin() + 1, command.end()}})
        .wait();
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'000'000'000ull;
    const int files = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;

    std::string pattern = (fs::temp_directory_path() / "corvanel-bench-extract-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path work = pattern;
    const std::string tool = platform::archiver();
    const fs::path archive = work / "game.tar";
    const fs::path destination = work / "out";

    writeTree(work / "source", bytes, files);
    if (spawnAndWait({tool, "-cf", archive.string(), "-C", (work / "source").string(), "."}) != 0)
        return 1;
    fs::remove_all(work / "source");

    Installer installer(work / "root");
    std::vector<double> bare, withProgress, whole;
    int ticks = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            const int variant = (step + round) % 3;
            fs::remove_all(destination);
            ::sync();
            const auto start = Clock::now();
            if (variant == 0) {
                fs::create_directories(destination);
                if (spawnAndWait({tool, "-xf", archive.string(), "-C", destination.string(), "--no-same-owner",
                                  "--no-same-permissions"})
                    != 0)
                    return 1;
                bare.push_back(secondsSince(start));
            } else if (variant == 1) {
                fs::create_directories(destination);
                installer.run(
                    tool,
                    {"-xf", archive.string(), "-C", destination.string(), "--no-same-owner", "--no-same-permissions"},
                    RunOptions{.timeout = 3600, .progress = [&](double) {
                                   ++ticks;
                                   installer.extractedBytes(destination);
                               }});
                withProgress.push_back(secondsSince(start));
            } else {
                installer.unpackUserArchive(archive, destination);
                whole.push_back(secondsSince(start));
            }
        }
    }
    fs::remove_all(destination);
    fs::remove(archive);

    const double base = median(bare);
    std::printf("extract %.2f GB in %d files, %d rounds: bare %s -xf median %.2f s\n", bytes / 1e9, files, rounds,
                tool.c_str(), base);
    std::printf("extraction with progress walk / bare -xf: %.3f (%.2f s vs %.2f s, %d progress ticks in all)\n",
                median(withProgress) / base, median(withProgress), base, ticks);
    std::printf("whole unpackUserArchive (two listings, extraction, tree check) / bare -xf: %.3f (%.2f s vs %.2f s)\n",
                median(whole) / base, median(whole), base);

    for (int count : {5000, 50000}) {
        const fs::path tree = work / ("tree-" + std::to_string(count));
        writeTree(tree, static_cast<std::uint64_t>(count), count);
        std::vector<double> walks;
        std::int64_t total = 0;
        for (int i = 0; i < 21; ++i) {
            const auto start = Clock::now();
            total = installer.extractedBytes(tree);
            walks.push_back(secondsSince(start));
        }
        std::printf("progress walk of %d files (%lld bytes): %.2f ms per tick = %.4f of the 2 s tick interval\n", count,
                    static_cast<long long>(total), median(walks) * 1e3, median(walks) / 2.0);
        fs::remove_all(tree);
    }
    fs::remove_all(work);
    return 0;
}
