#pragma once

#include <stdexcept>
#include <string>

namespace corvanel {

/// The one error whose text reaches users verbatim: complete sentences that end with the
/// user's next step.
class SetupFailure : public std::runtime_error {
public:
    explicit SetupFailure(const std::string& message)
        : std::runtime_error(message)
    {
    }
    std::string message() const { return what(); }
};

/// The user-facing description of any error that travels up from the installer.
std::string describe(const std::exception& error);

} // namespace corvanel
