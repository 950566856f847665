// The real wave devices refuse rates the audio server cannot represent
// before the driver sees them (under Wine it would abort the process).
#include "platform/audio_rates.h"
#include "platform/wave_in.h"
#include "platform/wave_out.h"

#include <gtest/gtest.h>

namespace {

WAVEFORMATEX MonoFormat(DWORD rate)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * 2;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    return format;
}

struct RateCase {
    DWORD rate;
    bool accepted;
};

const RateCase RATE_CASES[] = {
    {0, false},       {99, false},       {100, true},      {8000, true},
    {384000, true},   {384001, false},   {80001500, false},
    {static_cast<DWORD>(-8000), false}, // a negative setting, as the device sees it
};

} // namespace

TEST(DeviceSampleRates, RangeEnds)
{
    for (const RateCase& c : RATE_CASES)
        EXPECT_EQ(IsDeviceSampleRate(c.rate), c.accepted) << "rate " << c.rate;
}

// Only the refused rates are opened for real: they must come back as
// WAVERR_BADFORMAT without a device (nothing opened, nothing posted).
TEST(DeviceSampleRates, RealDevicesRefuseOutOfRangeRates)
{
    Win32WaveOut waveOut;
    Win32WaveIn waveIn;
    for (const RateCase& c : RATE_CASES) {
        if (c.accepted)
            continue;
        const WAVEFORMATEX format = MonoFormat(c.rate);

        HWAVEOUT outHandle = reinterpret_cast<HWAVEOUT>(1);
        EXPECT_EQ(waveOut.Open(&outHandle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
                  static_cast<MMRESULT>(WAVERR_BADFORMAT)) << "wave-out rate " << c.rate;
        EXPECT_EQ(outHandle, nullptr);

        HWAVEIN inHandle = reinterpret_cast<HWAVEIN>(1);
        EXPECT_EQ(waveIn.Open(&inHandle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
                  static_cast<MMRESULT>(WAVERR_BADFORMAT)) << "wave-in rate " << c.rate;
        EXPECT_EQ(inHandle, nullptr);
    }
}
