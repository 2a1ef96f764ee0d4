#include "installer/setup_failure.h"

#include <cctype>
#include <filesystem>
#include <system_error>

namespace corvanel {

std::string describe(const std::exception& error)
{
    if (const auto* failure = dynamic_cast<const SetupFailure*>(&error))
        return failure->message();
    if (const auto* fileError = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        std::string text = fileError->code().message();
        if (!text.empty())
            text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        text += ": " + fileError->path1().string() + ".";
        return text;
    }
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error))
        return systemError->what() + std::string(".");
    return error.what();
}

} // namespace corvanel
