// Import of a large game folder, against `cp -a` of the same folder.
//
//   bench_import [BYTES] [FILES] [ROUNDS]    (defaults: 2000000000 5000 3)
//
// Writes a complete game folder with FILES data files of incompressible bytes, BYTES in all,
// then times, interleaved: importGame (walks, copy into staging, move into place, clean-up,
// configuration file), `cp -a`, and std::filesystem::copy of the same folder for comparison.
// Prints one line per figure with its ratio; medians throughout.

#include "bench/bench_support.h"
#include "installer/installer.h"

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

} // namespace

int main(int argc, char** argv)
{
    const std::uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'000'000'000ull;
    const int files = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;

    std::string pattern = (fs::temp_directory_path() / "corvanel-bench-import-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path work = pattern;
    const fs::path game = work / "Halo 2";
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (const char* name :
         {"halo2.exe", "xlive.dll", "maps/shared.map", "maps/mainmenu.map", "maps/single_player_shared.map"})
        bench::writeRandomFile(game / name, 1000, state);
    for (int i = 0; i < files; ++i)
        bench::writeRandomFile(game / "data" / ("d" + std::to_string(i / 100)) / ("f" + std::to_string(i) + ".bin"),
                               bytes / static_cast<std::uint64_t>(files), state);

    Installer installer(work / "root");
    const fs::path copy = work / "copy";
    std::vector<double> imported, copiedByCp, copiedByLibrary;
    for (int round = 0; round < rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            const int variant = (step + round) % 3;
            fs::remove_all(installer.game());
            fs::remove_all(copy);
            ::sync();
            const auto start = Clock::now();
            if (variant == 0) {
                installer.importGame(game);
                imported.push_back(secondsSince(start));
            } else if (variant == 1) {
                if (ChildProcess::spawn({.executable = "/bin/cp", .arguments = {"-a", game.string(), copy.string()}})
                        .wait()
                    != 0)
                    return 1;
                copiedByCp.push_back(secondsSince(start));
            } else {
                fs::copy(game, copy, fs::copy_options::recursive);
                copiedByLibrary.push_back(secondsSince(start));
            }
        }
    }
    fs::remove_all(work);

    const double base = median(copiedByCp);
    std::printf("import %.2f GB in %d files, %d rounds: cp -a median %.2f s\n", bytes / 1e9, files, rounds, base);
    std::printf("importGame of a game folder / cp -a: %.3f (%.2f s vs %.2f s)\n", median(imported) / base,
                median(imported), base);
    std::printf("std::filesystem::copy / cp -a: %.3f (%.2f s vs %.2f s)\n", median(copiedByLibrary) / base,
                median(copiedByLibrary), base);
    return 0;
}
