// The PCM format and the wave headers both programs hand to WINMM.
#include "platform/wave_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

TEST(WaveFormat, FieldsFromChannelsRateAndBits)
{
    struct Case {
        WORD channels;
        int32_t rate;
        WORD bits;
        DWORD averageBytes;
        WORD blockAlign;
    };
    const Case cases[] = {
        {1, 8000, 16, 16000, 2},
        {1, 9600, 16, 19200, 2},
        {2, 44100, 16, 176400, 4},
        {1, 8001, 12, 12002, 2}, // 12001.5 and 1.5: halves go to the even neighbour
        {1, 8000, 4, 4000, 0},   // 0.5 -> 0
        // Rates the settings may hold: the byte count wraps like the rate.
        {1, -8000, 16, static_cast<DWORD>(-16000), 2},
        {1, INT32_MAX, 16, 4294967294u, 2},
        {1, INT32_MIN, 16, 0, 2},
    };
    for (const Case& c : cases) {
        WAVEFORMATEX format;
        std::memset(&format, 0xCC, sizeof format);
        SetWaveFormat(format, c.channels, c.rate, c.bits);
        EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format.nChannels, c.channels);
        EXPECT_EQ(format.nSamplesPerSec, static_cast<DWORD>(c.rate));
        EXPECT_EQ(format.nAvgBytesPerSec, c.averageBytes) << c.rate << " Hz, " << c.bits << " bits";
        EXPECT_EQ(format.nBlockAlign, c.blockAlign) << c.bits << " bits";
        EXPECT_EQ(format.wBitsPerSample, c.bits);
        EXPECT_EQ(format.cbSize, 0);
    }
}

TEST(WaveHeader, PointsAtTheBufferAndClearsEverythingElse)
{
    char buffer[9] = {};
    WAVEHDR header;
    std::memset(&header, 0xCC, sizeof header);
    SetWaveHeader(header, buffer, 8, 1);
    EXPECT_EQ(header.lpData, buffer);
    EXPECT_EQ(header.dwBufferLength, 8u);
    EXPECT_EQ(header.dwLoops, 1u);
    EXPECT_EQ(header.dwBytesRecorded, 0u);
    EXPECT_EQ(header.dwUser, 0u);
    EXPECT_EQ(header.dwFlags, 0u);
    EXPECT_EQ(header.lpNext, nullptr);
    EXPECT_EQ(header.reserved, 0u);
}
