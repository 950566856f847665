#include "meter/cli/live_audio.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t interruptSeen = 0;

extern "C" void OnInterrupt(int)
{
    interruptSeen = 1;
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void CatchInterrupt()
{
    interruptSeen = 0;
    std::signal(SIGINT, OnInterrupt);
}

bool Interrupted()
{
    return interruptSeen != 0;
}
