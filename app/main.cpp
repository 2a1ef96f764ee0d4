#include "app/cli.h"
#include "app/window_entry.h"

#include <cerrno>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#if defined(CORVANEL_DEMO_CATALOGUE)
#include "demo_catalogue.h"
#endif

namespace {

/// Opens the null device onto any of descriptors 0 to 2 that the launcher was started without,
/// so that no file opened later takes its place and receives what is meant for a terminal.
void reserveStandardStreams()
{
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != stream) {
            ::dup2(opened, stream);
            ::close(opened);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    reserveStandardStreams();
    const std::vector<std::string> arguments(argv, argv + argc);
    for (const auto& argument : arguments) {
        if (argument == "--cli") {
            // A reader that goes away (a closed pager, a finished `head`) only loses progress
            // lines; it must not kill a setup halfway. Programs started by the runner get the
            // default disposition back.
            std::signal(SIGPIPE, SIG_IGN);
#if defined(CORVANEL_DEMO_CATALOGUE)
            return corvanel::runCLI(arguments, std::cout, std::cerr, corvanel::demoCatalogue());
#else
            return corvanel::runCLI(arguments, std::cout, std::cerr);
#endif
        }
    }
#if defined(CORVANEL_DEMO_CATALOGUE)
    return corvanel::runWindow(argc, argv, corvanel::demoCatalogue());
#else
    return corvanel::runWindow(argc, argv, corvanel::releaseCatalogue());
#endif
}
