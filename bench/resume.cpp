// Bytes fetched to finish a download cut at 60 %: continued from the kept bytes, against a
// download that starts again from zero (the server refuses ranges), in one run.
//
//   bench_resume SERVER_SCRIPT [SIZE]
//
// SERVER_SCRIPT is tests/support/https_server.py; SIZE defaults to 341000000, the runtime's
// size. The served file is sparse (zeros cost nothing to make); the bytes counted are the
// ones the server sent. Prints, for example:
//   resume 341 MB cut at 60%: 341 MB fetched resumed, 545.6 MB restarted, ratio 0.625; the second call alone 0.40 of
//   the file

#include "installer/assets/byte_count.h"
#include "installer/assets/sha256.h"
#include "installer/child_process.h"
#include "installer/file_ops.h"
#include "installer/installer.h"
#include "installer/setup_failure.h"
#include "installer/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using corvanel::ChildProcess;
using corvanel::Installer;
using corvanel::RuntimeAsset;
using corvanel::sha256;

namespace {

void writeSparseFile(const fs::path& file, std::int64_t size)
{
    corvanel::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::ftruncate(fd.get(), size) != 0)
        throw std::runtime_error("cannot create " + file.string());
}

std::int64_t bytesSent(const fs::path& work, const std::string& name)
{
    std::istringstream log(fs::exists(work / "sent.log") ? corvanel::readFile(work / "sent.log") : std::string());
    std::int64_t total = 0, bytes = 0;
    std::string sentName;
    int status = 0;
    while (log >> sentName >> status >> bytes)
        if (sentName == name)
            total += bytes;
    return total;
}

/// One download cut at `cut` bytes and fetched again; the bytes the server sent for both.
std::int64_t cutAndFinish(const fs::path& root, const fs::path& work, const RuntimeAsset& asset, std::int64_t cut,
                          std::int64_t& secondCall)
{
    const Installer installer(root);
    corvanel::writeFileAtomically(work / (asset.name + ".cut"), std::to_string(cut));
    try {
        installer.obtain(asset, std::nullopt);
        throw std::runtime_error("the cut download of " + asset.name + " was accepted");
    } catch (const corvanel::SetupFailure&) {
    }
    const std::int64_t first = bytesSent(work, asset.name);
    installer.obtain(asset, std::nullopt);
    const std::int64_t both = bytesSent(work, asset.name);
    secondCall = both - first;
    return both;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc < 2)
            throw std::runtime_error("usage: bench_resume SERVER_SCRIPT [SIZE]");
        const std::int64_t size = argc > 2 ? std::atoll(argv[2]) : 341'000'000;
        const std::int64_t cut = size * 6 / 10;
        const fs::path dir = fs::temp_directory_path() / ("bench-resume-" + corvanel::newUuid());
        struct Cleanup {
            fs::path folder;
            ~Cleanup() { corvanel::removeTreeQuietly(folder); }
        } cleanup{dir};
        const fs::path served = dir / "served";
        const fs::path work = dir / "work";
        fs::create_directories(served);
        fs::create_directories(work);
        writeSparseFile(served / "resumed.bin", size);
        writeSparseFile(served / "restarted.bin", size);
        const std::string digest = sha256(served / "resumed.bin");

        ChildProcess server = ChildProcess::spawn(
            {.executable = "/usr/bin/python3", .arguments = {argv[1], served.string(), work.string()}});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(work / "port")) {
            if (server.waitFor(0.05) || std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("the test server did not start");
        }
        const std::string base = "https://127.0.0.1:" + corvanel::readFile(work / "port");
        ::setenv("CURL_CA_BUNDLE", (work / "ca.crt").c_str(), 1);

        const RuntimeAsset resumable{.name = "resumed.bin", .url = base + "/file/resumed.bin", .sha256 = digest};
        const RuntimeAsset whole{.name = "restarted.bin", .url = base + "/norange/restarted.bin", .sha256 = digest};
        std::int64_t resumedSecond = 0, restartedSecond = 0;
        const std::int64_t resumed = cutAndFinish(dir / "resumed-root", work, resumable, cut, resumedSecond);
        const std::int64_t restarted = cutAndFinish(dir / "restarted-root", work, whole, cut, restartedSecond);

        using corvanel::formatByteCount;
        std::printf("resume %s cut at 60%%: %s fetched resumed, %s restarted, ratio %.3f; the second call alone %.2f "
                    "of the file\n",
                    formatByteCount(size).c_str(), formatByteCount(resumed).c_str(), formatByteCount(restarted).c_str(),
                    static_cast<double>(resumed) / static_cast<double>(restarted),
                    static_cast<double>(resumedSecond) / static_cast<double>(size));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_resume: %s\n", error.what());
        return 1;
    }
}
