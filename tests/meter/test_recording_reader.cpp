// The WAV reader: what it accepts, what it refuses and with which words,
// and that it never reads beyond the bytes it was given.
#include "meter/recording_reader.h"
#include "meter/wav_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class MemorySource : public ByteSource {
public:
    // Hands out at most `piece` bytes a call, as a pipe may.
    MemorySource(std::string bytes, size_t piece = 7) : bytes(std::move(bytes)), piece(piece) {}
    size_t Read(unsigned char* buffer, size_t size) override
    {
        const size_t count = std::min({size, piece, bytes.size() - at});
        std::memcpy(buffer, bytes.data() + at, count);
        at += count;
        return count;
    }

private:
    std::string bytes;
    size_t piece;
    size_t at = 0;
};

std::string Le16(int value) { return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)}; }
std::string Le32(uint32_t value) { return Le16(static_cast<int>(value & 0xFFFF)) + Le16(static_cast<int>(value >> 16)); }

std::string Chunk(const std::string& id, const std::string& body) { return id + Le32(static_cast<uint32_t>(body.size())) + body + (body.size() % 2 ? std::string(1, '\0') : ""); }

std::string Format(int tag, int channels, uint32_t rate, int bits, int align)
{
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * static_cast<uint32_t>(align)) + Le16(align) + Le16(bits);
}

std::string Riff(const std::string& chunks) { return "RIFF" + Le32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks; }

std::string Samples(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes += Le16(v);
    return bytes;
}

// Everything the reader gives, three samples a call.
template <typename Sample = int16_t>
std::vector<Sample> ReadAll(RecordingReader& reader)
{
    std::vector<Sample> all;
    Sample buffer[3];
    while (size_t got = reader.ReadSamples(buffer, 3))
        all.insert(all.end(), buffer, buffer + got);
    return all;
}

TEST(RecordingReader, RefusesWhatItCannotRead)
{
    const std::string pcm = Format(1, 1, 8000, 16, 2);
    const struct {
        const char* what;
        std::string bytes;
        const char* message;  // a part of the problem's text
    } cases[] = {
        {"empty", "", "the input is empty"},
        {"text", "hello, this is not a recording at all", "does not start with RIFF"},
        {"RF64", "RF64" + std::string(40, '\0'), "RF64"},
        {"AVI", "RIFF" + Le32(100) + "AVI " + std::string(20, '\0'), "of type AVI , not WAVE"},
        {"cut in the RIFF header", "RIFF" + Le32(100) + "WA", "truncated WAV header"},
        {"cut in the fmt chunk", Riff(Chunk("fmt ", pcm)).substr(0, 30), "truncated WAV header"},
        {"no data chunk", Riff(Chunk("fmt ", pcm)), "truncated WAV header: the input ends after 36 bytes"},
        {"data before fmt", Riff(Chunk("data", Samples({1, 2})) + Chunk("fmt ", pcm)), "data chunk comes before the fmt chunk"},
        {"short fmt", Riff(Chunk("fmt ", pcm.substr(0, 12)) + Chunk("data", "")), "fewer than 16"},
        {"8-bit", Riff(Chunk("fmt ", Format(1, 1, 8000, 8, 1)) + Chunk("data", "")), "8-bit PCM; soundclock reads 16-, 24- and 32-bit PCM and 32-bit float"},
        {"20-bit", Riff(Chunk("fmt ", Format(1, 1, 8000, 20, 3)) + Chunk("data", "")), "20-bit PCM"},
        {"64-bit float", Riff(Chunk("fmt ", Format(3, 1, 8000, 64, 8)) + Chunk("data", "")), "64-bit floating-point"},
        {"a-law", Riff(Chunk("fmt ", Format(6, 1, 8000, 8, 1)) + Chunk("data", "")), "format tag 6"},
        {"extensible 16-bit float", Riff(Chunk("fmt ", Format(0xFFFE, 1, 8000, 16, 2) + Le16(22) + Le16(16) + Le32(4) + Le16(3) + std::string(14, 'x')) + Chunk("data", "")), "16-bit floating-point"},
        {"24-bit with a 16-bit block", Riff(Chunk("fmt ", Format(1, 2, 8000, 24, 4)) + Chunk("data", "")), "block align 4 does not match 2 channels of 24 bits"},
        {"no channels", Riff(Chunk("fmt ", Format(1, 0, 8000, 16, 0)) + Chunk("data", "")), "0 channels"},
        {"bad block align", Riff(Chunk("fmt ", Format(1, 2, 8000, 16, 2)) + Chunk("data", "")), "block align 2"},
        {"rate 0", Riff(Chunk("fmt ", Format(1, 1, 0, 16, 2)) + Chunk("data", "")), "sample rate 0 Hz"},
        {"huge chunk first", Riff("LIST" + Le32(0xFFFFFFF0u) + "abcd"), "chunk \"LIST\" of 4294967280 bytes"},
        {"chunk id unprintable", Riff(std::string("\x01\x02\x03\x04", 4) + Le32(0x7FFFFFFF)), "chunk \"????\""},
    };
    for (const auto& c : cases) {
        MemorySource source(c.bytes);
        RecordingReader reader;
        std::string problem;
        EXPECT_FALSE(reader.OpenWav(source, -1, problem)) << c.what;
        EXPECT_NE(problem.find(c.message), std::string::npos) << c.what << ": " << problem;
    }
}

TEST(RecordingReader, ReadsOneChannelOfWhatItAccepts)
{
    const std::string list = Chunk("LIST", "INFOISFT" + Le32(3) + "abc");  // odd body: padded
    const struct {
        const char* what;
        std::string bytes;
        int channel;
        int32_t rate;
        std::vector<int16_t> samples;
        uint64_t missing;
    } cases[] = {
        {"mono", Riff(Chunk("fmt ", Format(1, 1, 8000, 16, 2)) + Chunk("data", Samples({1, -2, 32767, -32768}))), -1, 8000, {1, -2, 32767, -32768}, 0},
        {"a LIST chunk first", Riff(list + Chunk("fmt ", Format(1, 1, 9600, 16, 2)) + Chunk("data", Samples({5, 6}))), -1, 9600, {5, 6}, 0},
        {"stereo, first channel", Riff(Chunk("fmt ", Format(1, 2, 48000, 16, 4)) + Chunk("data", Samples({1, 100, 2, 200, 3, 300}))), -1, 48000, {1, 2, 3}, 0},
        {"stereo, second channel", Riff(Chunk("fmt ", Format(1, 2, 48000, 16, 4)) + Chunk("data", Samples({1, 100, 2, 200, 3, 300}))), 1, 48000, {100, 200, 300}, 0},
        {"extensible PCM", Riff(Chunk("fmt ", Format(0xFFFE, 1, 8000, 16, 2) + Le16(22) + Le16(16) + Le32(4) + Le16(1) + std::string(14, 'x')) + Chunk("data", Samples({7}))), -1, 8000, {7}, 0},
        {"fmt with extra bytes", Riff(Chunk("fmt ", Format(1, 1, 8000, 16, 2) + Le16(0)) + Chunk("data", Samples({8}))), -1, 8000, {8}, 0},
        {"chunks after the data are not samples", Riff(Chunk("fmt ", Format(1, 1, 8000, 16, 2)) + Chunk("data", Samples({1, 2})) + Chunk("LIST", "abcd")), -1, 8000, {1, 2}, 0},
        {"streamed: size unknown", "RIFF" + Le32(0xFFFFFFFFu) + "WAVE" + Chunk("fmt ", Format(1, 1, 8000, 16, 2)) + "data" + Le32(0xFFFFFFFFu) + Samples({1, 2, 3}) + "x", -1, 8000, {1, 2, 3}, 0},
        {"data shorter than declared", Riff(Chunk("fmt ", Format(1, 1, 8000, 16, 2))) + "data" + Le32(100) + Samples({4, 5}), -1, 8000, {4, 5}, 96},
        {"stereo cut inside a frame", Riff(Chunk("fmt ", Format(1, 2, 8000, 16, 4))) + "data" + Le32(0) + Samples({1, 2, 3}), 1, 8000, {2}, 0},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{100000}}) {
            MemorySource source(c.bytes, piece);
            RecordingReader reader;
            std::string problem;
            ASSERT_TRUE(reader.OpenWav(source, c.channel, problem)) << c.what << ": " << problem;
            EXPECT_EQ(reader.SampleRate(), c.rate) << c.what;
            EXPECT_EQ(ReadAll(reader), c.samples) << c.what << ", pieces of " << piece;
            EXPECT_EQ(reader.MissingBytes(), c.missing) << c.what;
        }
    }
}

std::string Extensible(int subFormat, int channels, uint32_t rate, int bits, int validBits)
{
    const int align = channels * bits / 8;
    return Format(0xFFFE, channels, rate, bits, align) + Le16(22) + Le16(validBits) + Le32(0) + Le16(subFormat) +
           std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
}

// Each layout recorders write, with the channel taken both as the 16-bit
// samples the burst meter reads (rounded half to even, clipped) and at full
// resolution. The chosen channel's neighbours hold other values, so a
// wrong stride or offset shows.
TEST(RecordingReader, ReadsEveryLayoutAtFullResolutionAndAsSixteenBits)
{
    const std::string s24 = std::string("\x80\x00\x00", 3)     // 0x000080: 0.5 of a 16-bit step
                            + std::string("\x80\x01\x00", 3)   // 0x000180: 1.5 steps
                            + std::string("\x00\x00\x80", 3)   // full scale, negative
                            + std::string("\xFF\xFF\x7F", 3);  // full scale, positive
    const std::string s32 = Le32(0x00018000u) + Le32(0x7FFFFFFFu) + Le32(0xFFFE8000u);
    const auto f32 = [](std::initializer_list<float> values) {
        std::string bytes;
        for (float v : values) {
            uint32_t bits = 0;
            std::memcpy(&bits, &v, 4);
            bytes += Le32(bits);
        }
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
        int channel;
        std::vector<int16_t> samples;
        std::vector<float> full;
    } cases[] = {
        {"24-bit mono", Riff(Chunk("fmt ", Format(1, 1, 8000, 24, 3)) + Chunk("data", s24)), -1,
         {0, 2, -32768, 32767}, {128 / 8388608.0f, 384 / 8388608.0f, -1.0f, 8388607 / 8388608.0f}},
        {"24-bit stereo, second channel", Riff(Chunk("fmt ", Format(1, 2, 8000, 24, 6)) + Chunk("data", s24)), 1,
         {2, 32767}, {384 / 8388608.0f, 8388607 / 8388608.0f}},
        {"32-bit mono", Riff(Chunk("fmt ", Format(1, 1, 8000, 32, 4)) + Chunk("data", s32)), -1,
         {2, 32767, -2}, {0x00018000 / 2147483648.0f, 1.0f, -0x00018000 / 2147483648.0f}},
        {"float mono", Riff(Chunk("fmt ", Format(3, 1, 8000, 32, 4)) + Chunk("data", f32({0.5f, -1.0f, 1.5f, 2.5f / 32768}))), -1,
         {16384, -32768, 32767, 2}, {0.5f, -1.0f, 1.5f, 2.5f / 32768}},
        {"extensible float, three channels, third", Riff(Chunk("fmt ", Extensible(3, 3, 48000, 32, 32)) + Chunk("data", f32({9, 9, 0.25f, 9, 9, -0.25f}))), 2,
         {8192, -8192}, {0.25f, -0.25f}},
        {"extensible 24 in 32 bits", Riff(Chunk("fmt ", Extensible(1, 1, 48000, 32, 24)) + Chunk("data", Le32(0x12345600u))), -1,
         {0x1234}, {0x12345600 / 2147483648.0f}},
        {"extensible 24-bit, six channels, fifth", Riff(Chunk("fmt ", Extensible(1, 6, 96000, 24, 24)) + Chunk("data", std::string(12, '\x11') + s24.substr(3, 3) + std::string(3, '\x22'))), 4,
         {2}, {384 / 8388608.0f}},
    };
    for (const auto& c : cases) {
        for (bool full : {false, true}) {
            MemorySource source(c.bytes);
            RecordingReader reader;
            std::string problem;
            ASSERT_TRUE(reader.OpenWav(source, c.channel, problem)) << c.what << ": " << problem;
            if (full)
                EXPECT_EQ(ReadAll<float>(reader), c.full) << c.what;
            else
                EXPECT_EQ(ReadAll<int16_t>(reader), c.samples) << c.what;
        }
    }
}

TEST(RecordingReader, ChannelThatDoesNotExist)
{
    MemorySource source(Riff(Chunk("fmt ", Format(1, 2, 8000, 16, 4)) + Chunk("data", "")));
    RecordingReader reader;
    std::string problem;
    EXPECT_FALSE(reader.OpenWav(source, 2, problem));
    EXPECT_EQ(problem, "the recording has 2 channels, there is no channel 3");
}

TEST(RecordingReader, RawSamples)
{
    MemorySource source(Samples({-1, 0, 1}) + "z");  // a last odd byte is dropped
    RecordingReader reader;
    std::string problem;
    ASSERT_TRUE(reader.OpenRaw(source, 7996, problem));
    EXPECT_EQ(reader.SampleRate(), 7996);
    EXPECT_EQ(ReadAll(reader), (std::vector<int16_t>{-1, 0, 1}));
    EXPECT_FALSE(reader.OpenRaw(source, 0, problem));
    EXPECT_NE(problem.find("--rate R"), std::string::npos);
}

// The headers soundclock writes read back as what they say: the signal's
// 16-bit mono, and a capture kept at its device's layout and channels.
TEST(RecordingReader, WrittenHeaderReadsBack)
{
    const struct {
        uint16_t channels;
        SampleEncoding encoding;
        size_t headerBytes;
        SampleEncoding readAs;
    } cases[] = {
        {1, SampleEncoding::S16, 44, SampleEncoding::S16},
        {2, SampleEncoding::S16, 44, SampleEncoding::S16},
        {4, SampleEncoding::S16, 68, SampleEncoding::S16},
        {2, SampleEncoding::S24In3, 68, SampleEncoding::S24In3},
        {2, SampleEncoding::S24In4, 68, SampleEncoding::S24In3},
        {1, SampleEncoding::S32, 68, SampleEncoding::S32},
        {8, SampleEncoding::Float32, 68, SampleEncoding::Float32},
    };
    for (const auto& c : cases) {
        for (uint64_t size : {uint64_t{0}, uint64_t{4096}, WAV_SIZE_UNKNOWN}) {
            const std::string header = MakeWavHeader(48000, c.channels, size, c.encoding);
            ASSERT_EQ(header.size(), c.headerBytes) << SampleWords(c.encoding);
            WavInfo info;
            std::string problem;
            ASSERT_EQ(ParseWavHeader(reinterpret_cast<const unsigned char*>(header.data()), header.size(), info, problem),
                      WavParse::Complete) << problem;
            EXPECT_EQ(info.sampleRate, 48000);
            EXPECT_EQ(info.channels, c.channels);
            EXPECT_EQ(info.encoding, c.readAs) << SampleWords(c.encoding);
            EXPECT_EQ(info.dataOffset, c.headerBytes);
            EXPECT_EQ(info.dataSizeKnown, size != 0 && size != WAV_SIZE_UNKNOWN);
            if (info.dataSizeKnown) {
                EXPECT_EQ(info.dataBytes, size);
                uint32_t riffSize = 0;
                std::memcpy(&riffSize, header.data() + 4, 4);
                EXPECT_EQ(riffSize, size + c.headerBytes - 8);
            }
        }
    }
}

}  // namespace
