// The runner's added latency per short command: Installer::run("/bin/true") against a bare
// posix_spawn + waitpid of the same program, interleaved in one run. Prints one line.
#include "installer/file_ops.h"
#include "installer/installer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double bareSpawn()
{
    const auto start = Clock::now();
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        std::abort();
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double throughRunner(const corvanel::Installer& installer)
{
    const auto start = Clock::now();
    installer.run("/bin/true", {});
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    char pattern[] = "/tmp/corvanel-bench-runner-XXXXXX";
    const std::filesystem::path root = mkdtemp(pattern);
    const corvanel::Installer installer(root);
    std::vector<double> bare, runner;
    for (int i = 0; i < rounds; ++i) {
        bare.push_back(bareSpawn());
        runner.push_back(throughRunner(installer));
    }
    corvanel::removeTreeQuietly(root);
    const double added = median(runner) - median(bare);
    std::printf("runner /bin/true: %.2f ms per command, bare posix_spawn+waitpid %.2f ms, added %.2f ms (target < 5 "
                "ms), ratio %.2f\n",
                median(runner), median(bare), added, median(runner) / median(bare));
    return 0;
}
