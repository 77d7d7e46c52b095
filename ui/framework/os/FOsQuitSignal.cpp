#include "FOsQuitSignal.h"

#include <signal.h>
#include <unistd.h>

namespace
{

volatile sig_atomic_t s_received = 0;
volatile sig_atomic_t s_taken = 0;

void OnQuitSignal(int signal)
{
    // A second signal while the first is being acted on: the user insists.
    if (s_received > 0)
        _exit(128 + signal);
    s_received = 1;
}

void SetHandler(void (*handler)(int))
{
    struct sigaction action {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

void InstallOsQuitSignals()
{
    s_received = 0;
    s_taken = 0;
    SetHandler(OnQuitSignal);
}

void RestoreOsQuitSignals()
{
    SetHandler(SIG_DFL);
    s_received = 0;
    s_taken = 0;
}

bool TakeOsQuitSignal()
{
    if (!s_received || s_taken)
        return false;
    s_taken = 1;
    return true;
}
