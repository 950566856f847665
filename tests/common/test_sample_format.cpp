// The sample layouts against hand-made bytes: every width to full scale 2^31
// and 1.0 and back, the narrowing to 16 bits rounding half to even and
// clipping, and a mono signal spread over channels.
#include "common/sample_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(SampleFormat, DecodesEveryLayoutToFullScale)
{
    const struct {
        SampleEncoding encoding;
        Bytes bytes;
        int32_t asInt32;
        float asFloat;
    } cases[] = {
        {SampleEncoding::S16, {0x01, 0x00}, 1 << 16, 1.0f / 32768},
        {SampleEncoding::S16, {0xFF, 0x7F}, 32767 << 16, 32767.0f / 32768},
        {SampleEncoding::S16, {0x00, 0x80}, INT32_MIN, -1.0f},
        {SampleEncoding::S16, {0xFE, 0xFF}, -2 * 65536, -2.0f / 32768},
        {SampleEncoding::S24In3, {0x56, 0x34, 0x12}, 0x123456 << 8, 0x123456 / 8388608.0f},
        {SampleEncoding::S24In3, {0x00, 0x00, 0x80}, INT32_MIN, -1.0f},
        {SampleEncoding::S24In3, {0xFF, 0xFF, 0xFF}, -256, -1.0f / 8388608},
        // The top byte of a 24-bit sample in four is not part of it.
        {SampleEncoding::S24In4, {0x56, 0x34, 0x12, 0xAB}, 0x123456 << 8, 0x123456 / 8388608.0f},
        {SampleEncoding::S24In4, {0xFF, 0xFF, 0xFF, 0x00}, -256, -1.0f / 8388608},
        {SampleEncoding::S32, {0x78, 0x56, 0x34, 0x12}, 0x12345678, 0x12345678 / 2147483648.0f},
        {SampleEncoding::S32, {0x00, 0x00, 0x00, 0x80}, INT32_MIN, -1.0f},
        {SampleEncoding::Float32, {0x00, 0x00, 0x00, 0x3F}, 1 << 30, 0.5f},                  // 0.5
        {SampleEncoding::Float32, {0x00, 0x00, 0x80, 0xBF}, INT32_MIN, -1.0f},               // -1.0
        {SampleEncoding::Float32, {0x00, 0x00, 0x00, 0x40}, INT32_MAX, 2.0f},                // 2.0: clipped as an integer
        {SampleEncoding::Float32, {0x00, 0x00, 0xC0, 0x7F}, 0, 0.0f},                        // NaN
        {SampleEncoding::Float32, {0x00, 0x00, 0x80, 0xFF}, INT32_MIN, -1.0f},               // -infinity
        {SampleEncoding::Float32, {0x00, 0x00, 0x00, 0x31}, 4, 1.0f / (1 << 29)},            // 2^-29
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.bytes.size(), SampleBytes(c.encoding));
        EXPECT_EQ(DecodeInt32(c.encoding, c.bytes.data()), c.asInt32) << SampleWords(c.encoding) << " " << c.asInt32;
        EXPECT_EQ(DecodeFloat(c.encoding, c.bytes.data()), c.asFloat) << SampleWords(c.encoding) << " " << c.asInt32;
    }
}

TEST(SampleFormat, EncodingRoundsHalfToEvenAndClips)
{
    const struct {
        SampleEncoding encoding;
        int32_t value;
        Bytes bytes;
    } cases[] = {
        {SampleEncoding::S16, 0x00018000, {0x02, 0x00}},  // 1.5 -> 2
        {SampleEncoding::S16, 0x00028000, {0x02, 0x00}},  // 2.5 -> 2
        {SampleEncoding::S16, 0x00028001, {0x03, 0x00}},
        {SampleEncoding::S16, -0x00018000, {0xFE, 0xFF}},  // -1.5 -> -2
        {SampleEncoding::S16, INT32_MAX, {0xFF, 0x7F}},    // 32767.99998 -> 32767, not 32768
        {SampleEncoding::S24In3, 0x00000180, {0x02, 0x00, 0x00}},  // 1.5 -> 2
        {SampleEncoding::S24In3, INT32_MAX, {0xFF, 0xFF, 0x7F}},
        {SampleEncoding::S24In4, -256, {0xFF, 0xFF, 0xFF, 0xFF}},  // the sign in the top byte
        {SampleEncoding::S32, -2, {0xFE, 0xFF, 0xFF, 0xFF}},
        {SampleEncoding::Float32, 1 << 30, {0x00, 0x00, 0x00, 0x3F}},
    };
    for (const auto& c : cases) {
        Bytes out(SampleBytes(c.encoding));
        EncodeInt32(c.encoding, c.value, out.data());
        EXPECT_EQ(out, c.bytes) << SampleWords(c.encoding) << " " << c.value;
    }
}

// What a device of each layout gives back is what was put in, whole
// buffers at a time, for every 16-bit value the test signal can hold.
TEST(SampleFormat, SixteenBitValuesSurviveEveryLayout)
{
    std::vector<int32_t> samples;
    for (int32_t v = INT16_MIN; v <= INT16_MAX; v += 257)
        samples.push_back(v * 65536);
    samples.push_back(INT16_MAX * 65536);
    for (SampleEncoding encoding : {SampleEncoding::S16, SampleEncoding::S24In3, SampleEncoding::S24In4,
                                    SampleEncoding::S32, SampleEncoding::Float32}) {
        Bytes bytes(samples.size() * SampleBytes(encoding));
        EncodeSamples(encoding, samples.data(), samples.size(), bytes.data());
        std::vector<int32_t> back(samples.size());
        DecodeSamples(encoding, bytes.data(), samples.size(), back.data());
        EXPECT_EQ(back, samples) << SampleWords(encoding);
    }
}

TEST(SampleFormat, NarrowingToSixteenBitsRoundsHalfToEven)
{
    const struct {
        int32_t in;
        int16_t out;
    } fromInt[] = {
        {0x7FFF8000, 32767},  // 32767.5 would round to 32768: clipped
        {0x7FFE8000, 32766},  // 32766.5 -> even
        {-0x7FFF8000, -32768},  // -32767.5 -> even
        {INT32_MIN, -32768},
        {0x00008000, 0},       // 0.5 -> 0
        {0x00018000, 2},       // 1.5 -> 2
        {0x00007FFF, 0},
        {-0x00008000, 0},
        {-0x00008001, -1},
    };
    for (const auto& c : fromInt)
        EXPECT_EQ(Int16FromInt32(c.in), c.out) << c.in;
    const struct {
        float in;
        int16_t out;
    } fromFloat[] = {
        {0.5f, 16384},
        {1.0f, 32767},
        {-1.0f, -32768},
        {-1.5f, -32768},
        {2.5f / 32768, 2},
        {3.5f / 32768, 4},
        {-2.5f / 32768, -2},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::infinity(), 32767},
    };
    for (const auto& c : fromFloat)
        EXPECT_EQ(Int16FromFloat(c.in), c.out) << c.in;
    EXPECT_EQ(Int32FromFloat(0.25f), 1 << 29);
    EXPECT_EQ(Int32FromFloat(1.0f), INT32_MAX);
    EXPECT_EQ(Int32FromFloat(-1.0f), INT32_MIN);
}

TEST(SampleFormat, MonoSpreadsOverTheChannelsAsked)
{
    const int16_t mono[] = {5, -6};
    const struct {
        int channels;
        uint32_t signalChannels;
        std::vector<int16_t> frames;
    } cases[] = {
        {1, ALL_CHANNELS, {5, -6}},
        {2, ALL_CHANNELS, {5, 5, -6, -6}},
        {2, 1u, {5, 0, -6, 0}},
        {3, 2u, {0, 5, 0, 0, -6, 0}},
    };
    for (const auto& c : cases) {
        std::vector<int16_t> out(2 * static_cast<size_t>(c.channels), 99);
        SpreadMono(mono, 2, c.channels, c.signalChannels, out.data());
        EXPECT_EQ(out, c.frames) << c.channels << " channels, mask " << c.signalChannels;
    }
}

}  // namespace
