#pragma once

#include <csignal>

#include <sys/types.h>

namespace corvanel {

/// Keeps the launcher alive, and with it the install lock, while a child plays: from
/// forwardTo() on, SIGINT, SIGTERM and SIGHUP sent to this process (Ctrl-C, a closed terminal,
/// a polite kill) go to the child's process group instead; one the launcher was started to
/// ignore stays ignored. One at a time per process.
class SignalForwarding {
public:
    /// Holds the three signals back until forwardTo() names the group, so none that arrives
    /// while the child is being started can end the launcher.
    SignalForwarding();
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;
    /// Restores the earlier handling. Drop it before the child is reaped, so that its group id
    /// cannot have been given to someone else while signals still go there.
    ~SignalForwarding();

    /// Sends the three signals to process group `group` from now on, including any that
    /// arrived while they were held back.
    void forwardTo(pid_t group);
    /// The last signal sent on to the group; 0 while none was.
    int lastForwarded() const;

private:
    sigset_t previousMask_{};
    struct sigaction previousActions_[3]{};
    bool forwarding_ = false;
};

/// Turns the first interrupt (SIGINT, Ctrl-C) into a request to stop, for as long as the object
/// lives, so that setup can end its programs and tidy up; a second interrupt ends the launcher
/// as usual. An interrupt the launcher was started to ignore stays ignored. One at a time per
/// process.
class InterruptRequest {
public:
    InterruptRequest();
    InterruptRequest(const InterruptRequest&) = delete;
    InterruptRequest& operator=(const InterruptRequest&) = delete;
    ~InterruptRequest();

    /// Whether an interrupt has arrived since construction.
    bool arrived() const;

private:
    struct sigaction previousAction_ { };
    bool catching_ = false;
};

} // namespace corvanel
