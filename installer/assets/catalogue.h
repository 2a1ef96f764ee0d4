#pragma once

#include <string>

namespace corvanel {

/// A downloadable file, identified by its digest alone.
struct RuntimeAsset {
    std::string name; ///< file name under Downloads and in a cache folder
    std::string url; ///< HTTPS address it is fetched from
    std::string sha256; ///< 64 lower-case hexadecimal digits
};

/// Everything the installer trusts: the three downloads and the two accepted audio digests.
struct Catalogue {
    RuntimeAsset engine;
    RuntimeAsset libraries;
    RuntimeAsset audio;
    std::string codecHash; ///< the accepted decoder library wmadmod.dll
    std::string mediaPackageHash; ///< the accepted package MPSetup.exe (equals audio.sha256)
};

/// The catalogue compiled into the shipped program. Nothing at run time can change it.
const Catalogue& releaseCatalogue();

} // namespace corvanel
