// soundclock: the clock offset between two sound cards as a number. One
// card plays the transmitter's test signal (`soundclock signal`, or
// pharolet), the other records it; `soundclock measure` reads the
// recording (or the card itself) and says how far the recording card's
// clock is from the playing card's, in ppm, with its uncertainty;
// `soundclock loop` does both at once.
#include "soundclock/commands.h"

int main(int argc, char** argv)
{
    return RunCommandLine(argc, argv);
}
