// soundclock calibrate: a card's receive and transmit clocks against one
// reference in one run, with one cable from its output to its input.
#include "soundclock/calibrate_commands.h"
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/text_format.h"

std::string LoopImplausibleText(const Calibration& c)
{
    return "the loop's offset, " + Fixed(c.loop.ppm, 1, true) + " ppm, is " + Fixed(c.loopExcessPpm, 1, true) +
           " ppm beyond the nominal rates' ratio (" + Fixed(c.loop.recordRate, 0) + " Hz recorded, " + Fixed(c.loop.playRate, 0) +
           " Hz played): more than +-" + Fixed(LOOP_EXCESS_LIMIT_PPM / 1e4, 1) +
           " %, so what comes back is not this card's output (another card's, or through a rate converter)";
}

int CalibrateLive(const CalibrateOptions& options)
{
    return Fail(options.result, "calibrate on a device: not in this build yet");
}

int CalibrateCommand(const CalibrateOptions& options)
{
    if (!options.rateFile.empty())
        return CalibrateFromFiles(options);
    return CalibrateLive(options);
}
