// soundclock: the clock offset between two sound cards as a number. One
// card plays the transmitter's test signal (`soundclock signal`, or
// pharolet), the other records it; `soundclock measure` reads the
// recording and says how far the recording card's clock is from the
// playing card's, in ppm, with its uncertainty.
#include "meter/cli/commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const USAGE =
    "usage: soundclock signal [-o FILE|-] [--raw] [--seconds S] [--rate R] [--carrier HZ]\n"
    "       soundclock measure [FILE|-] [--raw --rate R] [--channel N] [--seconds S]\n"
    "                          [--csv FILE] [--json] [--quiet] [--expect PPM --tolerance PPM]\n"
    "                          [--signal-rate R] [--carrier HZ]\n"
    "       soundclock rate --device D [--capture|--playback] [--rate R] [--seconds S] [--silence]\n"
    "                       [--json] [--quiet] [--expect PPM --tolerance PPM]\n"
    "\n"
    "signal   writes the transmitter's test signal (WAV, or raw 16-bit little-endian\n"
    "         mono with --raw) to FILE or standard output, for S seconds or without end.\n"
    "measure  reads a recording of it (WAV; or raw with --raw --rate R) and prints the\n"
    "         recording card's clock offset against the playing card's, in ppm\n"
    "         (positive: the recording card runs fast), with its standard uncertainty.\n"
    "         Exit status: 0 done (within --tolerance of --expect), 1 outside it,\n"
    "         2 bad usage or no usable signal.\n"
    "rate     the sample rate of device D (capture, or --playback: the signal, or\n"
    "         silence) against the system clock, in Hz and ppm (positive: the card\n"
    "         runs fast), with its uncertainty and the system clock's state.\n"
    "\n"
    "The signal's sample rate and carrier come from STANAG.SET in the working\n"
    "directory (default 8000 Hz and 1500 Hz), or --rate/--carrier (signal) and\n"
    "--signal-rate/--carrier (measure).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(USAGE, argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_UNUSABLE : EXIT_WITHIN;
    }
    const std::string command = argv[1];
    Arguments arguments(argc, argv, 2);
    try {
        if (command == "signal")
            return SignalCommand(arguments);
        if (command == "measure")
            return MeasureCommand(arguments);
        if (command == "rate")
            return RateCommand(arguments);
        throw UsageError{"unknown command " + command};
    } catch (const UsageError& error) {
        std::fprintf(stderr, "soundclock: %s\n%s", error.message.c_str(), USAGE);
        return EXIT_UNUSABLE;
    }
}
