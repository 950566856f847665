// The clock trackbar: its position becomes the resampling correction.
#include "receiver/dsp/correlator.h"

#include <cstdint>

namespace {

// Positions 0..2000 map to +0.2 % .. -0.2 %; 1000 is no correction.
constexpr long double CENTRE_POSITION = 1000.0L;
constexpr long double POSITIONS_PER_UNIT = 500000.0L;

}  // namespace

void Correlator::SetClockCorrection(unsigned notificationCode, unsigned thumbPosition)
{
    unsigned position = 0;
    switch (notificationCode) {
    case TRACKBAR_THUMBTRACK:
        position = thumbPosition & 0xFFFFu;
        break;
    case TRACKBAR_LINEUP:
    case TRACKBAR_LINEDOWN:
    case TRACKBAR_PAGEUP:
    case TRACKBAR_PAGEDOWN:
    case TRACKBAR_TOP:
    case TRACKBAR_BOTTOM:
        if (trackbar == nullptr)
            return;
        position = static_cast<uint16_t>(trackbar->QueryPosition());
        break;
    default:  // thumb released, end of tracking, ...: the position is known
        return;
    }
    clockCorrection = (CENTRE_POSITION - position) / POSITIONS_PER_UNIT;
    if (readout != nullptr)
        readout->SetClockText(FormatClockText(clockCorrection).c_str());
}
