#include "app/window_entry.h"

#include <cstdio>

namespace corvanel {

int runWindow(int, char**, const Catalogue&)
{
    std::fputs("This build of Corvanel has no window. Run it with --cli, for example: corvanel --cli --status\n",
               stderr);
    return 1;
}

} // namespace corvanel
