// Throughput of sha256() against `openssl dgst -sha256` on the same file, in one run.
//
//   bench_sha256 [FILE] [ROUNDS]
//
// Without FILE it writes 1 GiB of pseudo-random bytes to a temporary file (removed at the end).
// Both hash the file once to warm the page cache, then ROUNDS times (default 5) interleaved;
// the medians are compared. Prints, for example:
//   sha256 1 GiB: 1.38 GB/s, openssl 1.40 GB/s, ratio 0.99
//   peak resident set 6.2 MB

#include "installer/assets/sha256.h"
#include "installer/child_process.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/unique_fd.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using corvanel::ChildProcess;
using corvanel::sha256;
using corvanel::UniqueFd;

namespace {

using Clock = std::chrono::steady_clock;

void writeRandomFile(const fs::path& file, std::uint64_t size)
{
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd)
        throw std::runtime_error("cannot create " + file.string());
    std::vector<std::uint64_t> chunk((1 << 20) / sizeof(std::uint64_t));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const auto bytes
            = static_cast<size_t>(std::min<std::uint64_t>(chunk.size() * sizeof(std::uint64_t), size - written));
        if (::write(fd.get(), chunk.data(), bytes) != static_cast<ssize_t>(bytes))
            throw std::runtime_error("cannot write " + file.string());
        written += bytes;
    }
}

/// Runs `openssl dgst -sha256 -r FILE` and returns its digest.
std::string opensslDigest(const fs::path& file, const fs::path& output)
{
    UniqueFd fd(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    auto child = ChildProcess::spawn(
        {.executable = "/usr/bin/openssl", .arguments = {"dgst", "-sha256", "-r", file.string()}, .output = fd.get()});
    if (child.wait() != 0)
        throw std::runtime_error("openssl dgst failed");
    return corvanel::readFile(output).substr(0, 64);
}

template <typename Work> double seconds(Work work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string sizeText(std::uint64_t bytes)
{
    char text[64];
    if (bytes % (1ull << 30) == 0)
        std::snprintf(text, sizeof text, "%llu GiB", static_cast<unsigned long long>(bytes >> 30));
    else
        std::snprintf(text, sizeof text, "%.2f MB", bytes / 1e6);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const fs::path work = fs::temp_directory_path() / ("bench-sha256-" + corvanel::newUuid());
        fs::create_directories(work);
        struct Cleanup {
            fs::path folder;
            ~Cleanup() { corvanel::removeTreeQuietly(folder); }
        } cleanup{work};

        const bool given = argc > 1 && argv[1][0] != '\0';
        const fs::path file = given ? fs::path(argv[1]) : work / "data";
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
        if (!given)
            writeRandomFile(file, 1ull << 30);
        const std::uint64_t size = fs::file_size(file);

        const std::string ours = sha256(file);
        if (ours != opensslDigest(file, work / "openssl.txt"))
            throw std::runtime_error("the digests differ");

        std::vector<double> oursTimes, opensslTimes;
        for (int i = 0; i < rounds; ++i) {
            oursTimes.push_back(seconds([&] { sha256(file); }));
            opensslTimes.push_back(seconds([&] { opensslDigest(file, work / "openssl.txt"); }));
        }
        const double oursRate = size / median(oursTimes) / 1e9;
        const double opensslRate = size / median(opensslTimes) / 1e9;
        std::printf("sha256 %s: %.2f GB/s, openssl %.2f GB/s, ratio %.2f\n", sizeText(size).c_str(), oursRate,
                    opensslRate, oursRate / opensslRate);

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("peak resident set %.1f MB\n", usage.ru_maxrss * 1024 / 1e6);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_sha256: %s\n", error.what());
        return 1;
    }
}
