#pragma once

#include "installer/installer.h"

namespace corvanel::test_support {

/// One registry value the configured prefix must hold.
struct RegistryRow {
    const char* key;
    const char* name;
    const char* data;
};

/// The seven values, written down here independently of the code that writes them.
extern const RegistryRow expectedRegistryRows[7];

/// Asks the prefix's Wine for each expected row and checks it holds its text value.
void expectRegistryRowsReadBack(const Installer& installer);

} // namespace corvanel::test_support
