#pragma once

#include "installer/setup_failure.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// An argument list as the setup log shows it: ["-xf", "a \"b\""], with quotes, backslashes
/// and control characters escaped.
std::string quotedArguments(const std::vector<std::string>& arguments);

/// A program that ran to its end and reported failure through its exit status, as opposed to
/// one that timed out or could not be started.
class ProgramFailure : public SetupFailure {
public:
    ProgramFailure(const std::string& message, int status) : SetupFailure(message), status_(status) {}
    /// The exit status the program reported, or the number of the signal that ended it.
    int status() const { return status_; }

private:
    int status_;
};

/// The user asked for the running setup or repair to stop: the running program and its whole
/// process group were ended and waited for. Folders being built go as the failure unwinds, as
/// does the install lock; what was finished stays, so the next setup or repair goes on from there.
class SetupStopped : public SetupFailure {
public:
    SetupStopped() : SetupFailure("Setup was stopped. Your source files are unchanged.") {}
};

/// A program's output as lines for the setup log: each line of it written through printable(),
/// then a line feed. The result holds no control character but those line feeds.
std::string escapedLines(std::string_view output);

/// Whether `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

} // namespace corvanel
