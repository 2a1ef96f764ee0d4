#include "installer/signal_forwarding.h"

#include <cerrno>

#include <pthread.h>
#include <signal.h>

namespace corvanel {

namespace {

constexpr int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t forwardedGroup = 0;
volatile sig_atomic_t lastForwardedSignal = 0;

extern "C" void forwardSignal(int signal)
{
    const int saved = errno;
    if (forwardedGroup > 0) {
        ::kill(-static_cast<pid_t>(forwardedGroup), signal);
        lastForwardedSignal = signal;
    }
    errno = saved;
}

volatile sig_atomic_t interruptArrived = 0;

extern "C" void noteInterrupt(int)
{
    interruptArrived = 1;
}

sigset_t forwardedSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : forwardedSignals)
        sigaddset(&set, signal);
    return set;
}

} // namespace

SignalForwarding::SignalForwarding()
{
    const sigset_t set = forwardedSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
}

void SignalForwarding::forwardTo(pid_t group)
{
    lastForwardedSignal = 0;
    forwardedGroup = static_cast<sig_atomic_t>(group);
    struct sigaction action { };
    action.sa_handler = forwardSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        ::sigaction(forwardedSignals[i], nullptr, &previousActions_[i]);
        // A signal the launcher was started to ignore (nohup) stays ignored, for the child too.
        if (previousActions_[i].sa_handler != SIG_IGN)
            ::sigaction(forwardedSignals[i], &action, nullptr);
    }
    forwarding_ = true;
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

int SignalForwarding::lastForwarded() const
{
    return lastForwardedSignal;
}

SignalForwarding::~SignalForwarding()
{
    const sigset_t set = forwardedSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    forwardedGroup = 0;
    if (forwarding_)
        for (int i = 0; i < 3; ++i)
            ::sigaction(forwardedSignals[i], &previousActions_[i], nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

InterruptRequest::InterruptRequest()
{
    interruptArrived = 0;
    struct sigaction action { };
    action.sa_handler = noteInterrupt;
    // The first interrupt is noted and the default comes back for a second one.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, nullptr, &previousAction_);
    if (previousAction_.sa_handler != SIG_IGN) {
        ::sigaction(SIGINT, &action, nullptr);
        catching_ = true;
    }
}

InterruptRequest::~InterruptRequest()
{
    if (catching_)
        ::sigaction(SIGINT, &previousAction_, nullptr);
}

bool InterruptRequest::arrived() const
{
    return interruptArrived != 0;
}

} // namespace corvanel
