#include "installer/setup_failure.h"

#include "installer/display_text.h"

#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace corvanel {

namespace {

std::string sentence(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!text.empty() && text.back() != '.')
        text += '.';
    return text;
}

/// The message the code passed to the error, without the decoration that the standard library
/// adds to what() ("filesystem error: ", the paths, the system's message).
std::string whatArgument(const std::system_error& error, std::string_view decorationStart)
{
    std::string_view text = error.what();
    const std::string_view prefix = "filesystem error: ";
    if (text.starts_with(prefix))
        text.remove_prefix(prefix.size());
    const auto at = decorationStart.empty() ? std::string_view::npos : text.find(decorationStart);
    if (at != std::string_view::npos)
        return std::string(text.substr(0, at));
    return text == error.code().message() ? std::string() : std::string(text);
}

std::string describeFileError(const std::filesystem::filesystem_error& error)
{
    const std::string reason = error.code().message();
    const std::string action = whatArgument(error, ": " + reason);
    const std::string first = error.path1().empty() ? std::string() : shownPath(error.path1());
    const std::string second = error.path2().empty() ? std::string() : shownPath(error.path2());
    if (action.empty())
        return sentence(first.empty() ? reason : reason + ": " + first);
    std::string text = action;
    if (!first.empty())
        text += " " + first;
    if (!second.empty())
        text += " to " + second;
    return sentence(text + ": " + reason);
}

} // namespace

std::string describe(const std::exception& error)
{
    if (const auto* failure = dynamic_cast<const SetupFailure*>(&error))
        return failure->message();
    if (const auto* fileError = dynamic_cast<const std::filesystem::filesystem_error*>(&error))
        return describeFileError(*fileError);
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error))
        return sentence(systemError->what());
    return error.what();
}

} // namespace corvanel
