#include "app/cli.h"
#include "app/window_entry.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#if defined(CORVANEL_DEMO_CATALOGUE)
#include "demo_catalogue.h"
#endif

int main(int argc, char** argv)
{
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
