#pragma once

#include "installer/setup_failure.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvanel {

/// A program that ran to its end and reported failure through its exit status, as opposed to
/// one that timed out or could not be started.
class ProgramFailure : public SetupFailure {
public:
    ProgramFailure(const std::string& message, int status, bool signalled = false)
        : SetupFailure(message)
        , status_(status)
        , signalled_(signalled)
    {
    }
    /// The exit status the program reported, or the number of the signal that ended it.
    int status() const { return status_; }
    /// Whether a signal ended the program, so that status() is that signal's number.
    bool signalled() const { return signalled_; }

private:
    int status_;
    bool signalled_;
};

/// What a setup stopped on request says.
inline constexpr const char* setupStoppedMessage = "Setup was stopped. Your source files are unchanged.";

/// What a repair stopped on request says instead of SetupStopped's sentence.
inline constexpr const char* repairStoppedMessage
    = "Repair was stopped. Your game and saves are unchanged; repair again to finish it.";

/// The user asked for the running setup or repair to stop: the running program and its whole
/// process group were ended and waited for. Folders being built go as the failure unwinds, as
/// does the install lock; what was finished stays, so the next setup or repair goes on from there.
class SetupStopped : public SetupFailure {
public:
    SetupStopped()
        : SetupFailure(setupStoppedMessage)
    {
    }
};

} // namespace corvanel
