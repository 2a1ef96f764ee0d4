#include "installer/assets/catalogue.h"

namespace corvanel {

const Catalogue& releaseCatalogue()
{
    static const Catalogue catalogue{
        .engine = {
            .name = "WS12WineCX24.0.7_7.tar.xz",
            .url = "https://github.com/Sikarugir-App/Engines/releases/download/v1.0/WS12WineCX24.0.7_7.tar.xz",
            .sha256 = "203f9e9fd6c2cc77e6525d798a434ced326145db34a356355e05659d3445fd1c",
        },
        .libraries = {
            .name = "wine-stable-11.0_1-osx64.tar.xz",
            .url = "https://github.com/Gcenx/macOS_Wine_builds/releases/download/11.0_1/wine-stable-11.0_1-osx64.tar.xz",
            .sha256 = "b50dc50ec7f41d58b115a6b685d4d1315ba3c797bd3aa0f49213f2703cb82388",
        },
        .audio = {
            .name = "MPSetup.exe",
            .url = "https://web.archive.org/web/20180404022333if_/download.microsoft.com/download/1/b/c/1bc0b1a3-c839-4b36-8f3c-19847ba09299/MPSetup.exe",
            .sha256 = "678c102847c18a92abf13c3fae404c3473a0770c871a046b45efe623c9938fc0",
        },
        .codecHash = "9a80890f782008f8a64d9fb6bc4a2e5bd18dba514ea6b87dcc9d33a999901b07",
        .mediaPackageHash = "678c102847c18a92abf13c3fae404c3473a0770c871a046b45efe623c9938fc0",
    };
    return catalogue;
}

} // namespace corvanel
