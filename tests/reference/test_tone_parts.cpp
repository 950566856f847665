// The tone meter's parts: the transform, the block demodulator, the test
// signal itself.
#include "meter/reference/fft.h"
#include "meter/reference/tone_demodulator.h"
#include "tests/reference/tone_signal.h"

#include <gtest/gtest.h>

namespace {

}  // namespace
