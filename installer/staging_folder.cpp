#include "installer/staging_folder.h"

#include "installer/file_ops.h"
#include "installer/installer.h"

#include <string>

namespace corvanel {

StagingFolder::StagingFolder(const std::filesystem::path& root, std::string_view prefix)
    : path_(root / (std::string(prefix) + newUuid()))
{
    makeDirectory(path_);
}

StagingFolder::~StagingFolder()
{
    removeTreeQuietly(path_);
}

} // namespace corvanel
