// The kernel's clock discipline, read with adjtimex() in read-only mode
// (no privileges needed). The monotonic clock the backends stamp with is
// slewed by the same frequency correction, so this is the state of the
// clock the rate was measured against.
#include "audio/system_clock.h"

#include <sys/timex.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// adjtimex reports the frequency in ppm with a 16-bit binary fraction.
constexpr double FREQUENCY_SCALE = 65536.0;

std::string StatusText(int result, int status)
{
    std::string text = result == TIME_ERROR ? "clock state TIME_ERROR" : "clock state " + std::to_string(result);
    text += (status & STA_UNSYNC) ? ", unsynchronised" : ", synchronised";
    if (status & STA_PLL)
        text += ", PLL";
    if (status & STA_FLL)
        text += ", FLL";
    if (status & STA_PPSSIGNAL)
        text += ", PPS";
    return text;
}

}  // namespace

SystemClockState ReadSystemClockState()
{
    SystemClockState state;
    state.source = "adjtimex";
    struct timex request;
    std::memset(&request, 0, sizeof request);
    request.modes = 0;
    const int result = adjtimex(&request);
    if (result < 0) {
        state.detail = std::string("adjtimex failed: ") + std::strerror(errno);
        return state;
    }
    // The kernel's own judgement: TIME_ERROR whenever STA_UNSYNC is set or
    // the discipline has lost its source.
    state.sync = (result == TIME_ERROR || (request.status & STA_UNSYNC)) ? ClockSync::Unsynchronised
                                                                         : ClockSync::Synchronised;
    // Besides the fine frequency, the tick length (microseconds per clock
    // tick) may be set away from its nominal value: that is a correction too.
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const double nominalTick = ticksPerSecond > 0 ? 1e6 / static_cast<double>(ticksPerSecond) : 0;
    const double tickPpm = nominalTick > 0 ? (static_cast<double>(request.tick) / nominalTick - 1) * 1e6 : 0;
    state.haveFrequency = true;
    state.frequencyPpm = static_cast<double>(request.freq) / FREQUENCY_SCALE + tickPpm;
    state.haveError = true;
    state.estimatedErrorSeconds = static_cast<double>(request.esterror) * 1e-6;
    state.maximumErrorSeconds = static_cast<double>(request.maxerror) * 1e-6;
    state.detail = StatusText(result, request.status);
    return state;
}
