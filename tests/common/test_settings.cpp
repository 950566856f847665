// The settings file reader: the text rules, the conversions into each
// program's types, the defaults, the clamping of out-of-range values and the
// file reading. The same cases run natively and under Wine, so the exact
// floating-point results below are checked on both builds.
#include "common/settings.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr float FLOAT_MAX = FLT_MAX;
constexpr double DOUBLE_MAX = DBL_MAX;

ReceiverSettings ParseReceiver(const std::string& text)
{
    return ParseSettings<float>(text.data(), text.size());
}

TransmitterSettings ParseTransmitter(const std::string& text)
{
    return ParseSettings<double>(text.data(), text.size());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What both programs read from one text: the rate (the same for both) and
// each program's carrier.
struct ReadCase {
    const char* what;
    std::string text;
    int32_t sampleRate;
    float receiverCarrier;
    double transmitterCarrier;
};

void ExpectReads(const ReadCase& c)
{
    const ReceiverSettings receiver = ParseReceiver(c.text);
    const TransmitterSettings transmitter = ParseTransmitter(c.text);
    EXPECT_EQ(receiver.sampleRate, c.sampleRate) << c.what;
    EXPECT_EQ(transmitter.sampleRate, c.sampleRate) << c.what;
    EXPECT_EQ(receiver.carrierFrequency, c.receiverCarrier) << c.what;
    EXPECT_EQ(transmitter.carrierFrequency, c.transmitterCarrier) << c.what;
}

TEST(Settings, SeparatorsAndDefaults)
{
    const ReadCase cases[] = {
        {"empty file", "", 8000, 1500, 1500},
        {"zeros take the defaults", "0\r\n0\r\n", 8000, 1500, 1500},
        {"single value", "9600\r\n", 9600, 1500, 1500},
        {"usual two lines", "11025\r\n1800\r\n", 11025, 1800, 1800},
        {"comma on one line", "9600,1800", 9600, 1800, 1800},
        {"spaces on one line", "9600   1800", 9600, 1800, 1800},
        {"spaces around comma", "  9600 , 1800", 9600, 1800, 1800},
        {"CR alone separates", "9600\r1800", 9600, 1800, 1800},
        {"LF alone does not", "8000\n1500\n", 80001500, 1500, 1500},
        {"tab and LF inside a value", "96\t00,18\n00", 9600, 1800, 1800},
        {"blanks after a value", "9600 \t\n ,1800", 9600, 1800, 1800},
        {"letters only first line", "abc\r\n1800\r\n", 8000, 1800, 1800},
        {"blank first line", "\r\n1800\r\n", 8000, 1800, 1800},
        {"blank line between", "9600\r\n\r\n1800", 9600, 1500, 1500},
        {"empty value between commas", "9600,,1800", 9600, 1500, 1500},
        {"only one comma consumed", ",,1800", 8000, 1500, 1500},
        {"anything after the second value", "9600,1800,44100", 9600, 1800, 1800},
        {"end-of-file mark", std::string("8000\x1a") + "1800", 8000, 1500, 1500},
        {"end-of-file mark first", std::string("\x1a") + "9600,1800", 8000, 1500, 1500},
        {"NUL ends the number only", std::string("96\0" "00,1800", 10), 96, 1800, 1800},
        {"negative carrier kept", "8000\r\n-1500\r\n", 8000, -1500, -1500},
        {"negative rate kept", "-8000,1500", -8000, 1500, 1500},
        {"minus zero is zero", "-0,-0", 8000, 1500, 1500},
    };
    for (const auto& c : cases)
        ExpectReads(c);
}

TEST(Settings, NumberForms)
{
    const ReadCase cases[] = {
        {"half to even down", "8000.5\r\n1500\r\n", 8000, 1500, 1500},
        {"half to even up", "8001.5\r\n1500\r\n", 8002, 1500, 1500},
        {"just above half", "8000.50000000001,1", 8001, 1, 1},
        {"rate rounding to 0 defaults", "0.5,1", 8000, 1, 1},
        {"fraction kept in carrier", "8000,1500.25", 8000, 1500.25f, 1500.25},
        {"plus signs", "+9600,+1800", 9600, 1800, 1800},
        {"exponent letters", "96E2,1.8d3", 9600, 1800, 1800},
        {"exponent signs", "960000e-2,18D+2", 9600, 1800, 1800},
        {"leading period", ".96e4,-.18E4", 9600, -1800, -1800},
        {"exponent without digits", "1e,2D+", 1, 2, 2},
        {"stops at first misfit", "9600abc,1.8.3", 9600, 1.8f, 1.8},
        {"sign after digits stops", "9600-1,1800+5", 9600, 1800, 1800},
        {"no leading number", ".,-e5", 8000, 1500, 1500},
        {"hexadecimal", "&H2580,&h708", 9600, 1800, 1800},
        {"hexadecimal digit case", "&HaBc,&hFfF", 2748, 4095, 4095},
        {"binary", "&B10010110000000,&b11100001000", 9600, 1800, 1800},
        {"octal O", "&O22600,&o3410", 9600, 1800, 1800},
        {"octal Q", "&Q22600,&q3410", 9600, 1800, 1800},
        {"bare & is octal", "&22600,&3410", 9600, 1800, 1800},
        {"radix stops at misfit", "&18,&B1012", 1, 5, 5},
        {"radix without digits", "&H,&B2", 8000, 1500, 1500},
        {"hex is unsigned", "&HFFFF,&HFFFFFFFF", 65535, 4294967296.0f, 4294967295.0},
        {"no sign before &", "-&H10,+&H10", 8000, 1500, 1500},
        {"C hexadecimal is not read", "0x2580,0X708", 8000, 1500, 1500},
        {"no NaN or infinity words", "nan,INFINITY", 8000, 1500, 1500},
    };
    for (const auto& c : cases)
        ExpectReads(c);
}

TEST(Settings, OutOfRangeValuesAreClamped)
{
    const ReadCase cases[] = {
        {"rate just below the top", "2147483646.5,1", 2147483646, 1, 1},
        {"rate above int32 range", "2147483647.5,1", INT32_MAX, 1, 1},
        {"lowest int32 rate", "-2147483648,1", INT32_MIN, 1, 1},
        {"rate below int32 range", "-2147483648.6,1", INT32_MIN, 1, 1},
        {"unsigned hex rate", "&HFFFFFFFF,1", INT32_MAX, 1, 1},
        {"overflowing exponent", "1e999,1e999", INT32_MAX, FLOAT_MAX, DOUBLE_MAX},
        {"negative overflow", "-1e999,-1e999", INT32_MIN, -FLOAT_MAX, -DOUBLE_MAX},
        {"exponent with many digits", "1e" + std::string(250, '9') + ",-1e" + std::string(250, '9'),
         INT32_MAX, -FLOAT_MAX, -DOUBLE_MAX},
        {"too large for float only", "8000,1e39", 8000, FLOAT_MAX, 1e39},
        {"huge hexadecimal", "&H" + std::string(253, 'F') + ",&H" + std::string(253, 'F'),
         INT32_MAX, FLOAT_MAX, std::ldexp(1.0, 1012)},
        {"underflow to 0 defaults", "1e-99999,1e-99999", 8000, 1500, 1500},
        {"zero only as a float", "8000,1e-50", 8000, 1500, 1e-50},
        {"huge mantissa tiny exponent", std::string(200, '9') + "e-196,1", 10000, 1, 1},
    };
    for (const auto& c : cases)
        ExpectReads(c);
}

TEST(Settings, ValueLengthCap)
{
    const std::string zeros254(254, '0');
    const ReadCase cases[] = {
        {"255 characters kept", std::string(251, '0') + "9600,1800", 9600, 1800, 1800},
        {"256th character dropped", zeros254 + "9600,1800", 9, 1800, 1800},
        {"dropped tail does not feed the carrier", std::string(300, '7') + "\r\n1800", INT32_MAX,
         1800, 1800},
        {"tabs and line feeds are not counted", std::string(100, '\t') + std::string(251, '0') +
         "9600\n\n,1800", 9600, 1800, 1800},
        {"cap applies to the carrier too", "9600," + zeros254 + "18", 9600, 1, 1},
    };
    for (const auto& c : cases)
        ExpectReads(c);
}

uint32_t BitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint64_t BitsOf(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Correctly rounded, each type on its own, and the same bits on every build:
// ties, numbers next to a tie, subnormals and long texts.
TEST(Settings, CarrierRoundingIsExact)
{
    const struct {
        std::string carrier;
        uint32_t floatBits;
        uint64_t doubleBits;
    } cases[] = {
        {"1500.1", 0x44bb8333u, 0x4097706666666666ull},
        {"1.000000059604644775390625", 0x3f800000u, 0x3ff0000010000000ull},
        {"1.000000059604644775390626", 0x3f800001u, 0x3ff0000010000000ull},
        {"8.589973e9", 0x50000026u, 0x42000004b0400000ull},
        {"&H1000001", 0x4b800000u, 0x4170000010000000ull},
        {"&H1000003", 0x4b800002u, 0x4170000030000000ull},
        {"&O100000001", 0x4b800000u, 0x4170000010000000ull},
        {"1e-45", 0x00000001u, 0x3696d601ad376ab9ull},
        {"9007199254740993", 0x5a000000u, 0x4340000000000000ull},
        {"9007199254740993.000000001", 0x5a000000u, 0x4340000000000001ull},
        {"2.2250738585072011e-308", 0x00000000u, 0x000fffffffffffffull},
        {"12345678901234567890123e-3", 0x5f2b54aau, 0x43e56a95319d63e1ull},
    };
    for (const auto& c : cases) {
        const std::string text = "8000," + c.carrier;
        const float receiverCarrier = ParseReceiver(text).carrierFrequency;
        const double transmitterCarrier = ParseTransmitter(text).carrierFrequency;
        // A float carrier of 0 takes the default.
        const uint32_t floatBits = c.floatBits == 0 ? BitsOf(1500.0f) : c.floatBits;
        EXPECT_EQ(BitsOf(receiverCarrier), floatBits) << c.carrier;
        EXPECT_EQ(BitsOf(transmitterCarrier), c.doubleBits) << c.carrier;
    }
}

TEST(SettingsFile, MissingOrUnreadableFileGivesDefaults)
{
    std::remove("no_such_settings.set");
    const ReceiverSettings receiver = LoadSettings<float>("no_such_settings.set");
    const TransmitterSettings transmitter = LoadSettings<double>("no_such_settings.set");
    EXPECT_EQ(receiver.sampleRate, 8000);
    EXPECT_EQ(receiver.carrierFrequency, 1500.0f);
    EXPECT_EQ(transmitter.sampleRate, 8000);
    EXPECT_EQ(transmitter.carrierFrequency, 1500.0);

    // A directory in the file's place cannot be read as a file.
    std::filesystem::create_directory("settings_dir.set");
    EXPECT_EQ(LoadSettings<double>("settings_dir.set").sampleRate, 8000);
    EXPECT_EQ(LoadSettings<double>("settings_dir.set").carrierFrequency, 1500.0);
}

TEST(SettingsFile, ReadsTheFileInTheWorkingDirectory)
{
    WriteFile(SETTINGS_FILE_NAME, "9600\r\n1800.5\r\n");
    const ReceiverSettings receiver = LoadSettings<float>();
    const TransmitterSettings transmitter = LoadSettings<double>();
    std::remove(SETTINGS_FILE_NAME);
    EXPECT_EQ(receiver.sampleRate, 9600);
    EXPECT_EQ(receiver.carrierFrequency, 1800.5f);
    EXPECT_EQ(transmitter.sampleRate, 9600);
    EXPECT_EQ(transmitter.carrierFrequency, 1800.5);
}

TEST(SettingsFile, OnlyTheStartOfAHugeFileIsRead)
{
    WriteFile("values_then_digits.set", "9600,1800\r\n" + std::string(1 << 20, '5'));
    const TransmitterSettings first = LoadSettings<double>("values_then_digits.set");
    EXPECT_EQ(first.sampleRate, 9600);
    EXPECT_EQ(first.carrierFrequency, 1800.0);

    // Values placed beyond the limit are not seen: the file seems to end.
    WriteFile("values_too_late.set", std::string(SETTINGS_READ_LIMIT, ' ') + "9600,1800");
    const TransmitterSettings late = LoadSettings<double>("values_too_late.set");
    EXPECT_EQ(late.sampleRate, 8000);
    EXPECT_EQ(late.carrierFrequency, 1500.0);
}

// Every fuzz corpus file, plus a generated megabyte of digits: the values
// are always usable numbers, and reading the file equals parsing its bytes.
TEST(SettingsCorpus, EveryFileGivesUsableValues)
{
    WriteFile("megabyte_of_digits.set", std::string(1 << 20, '7'));
    std::vector<std::filesystem::path> files{"megabyte_of_digits.set"};
    for (const auto& entry : std::filesystem::directory_iterator(SETTINGS_CORPUS_DIR))
        files.push_back(entry.path());
    ASSERT_GT(files.size(), 15u);

    for (const auto& path : files) {
        const std::string bytes = ReadFile(path);
        const ReceiverSettings receiver = ParseReceiver(bytes);
        const TransmitterSettings transmitter = ParseTransmitter(bytes);
        const std::string name = path.filename().string();
        EXPECT_NE(receiver.sampleRate, 0) << name;
        EXPECT_EQ(receiver.sampleRate, transmitter.sampleRate) << name;
        EXPECT_TRUE(std::isfinite(receiver.carrierFrequency)) << name;
        EXPECT_TRUE(std::isfinite(transmitter.carrierFrequency)) << name;
        EXPECT_NE(receiver.carrierFrequency, 0.0f) << name;
        EXPECT_NE(transmitter.carrierFrequency, 0.0) << name;

        const std::string start = bytes.substr(0, SETTINGS_READ_LIMIT);
        const TransmitterSettings loaded = LoadSettings<double>(path.string().c_str());
        EXPECT_EQ(loaded.sampleRate, ParseTransmitter(start).sampleRate) << name;
        EXPECT_EQ(BitsOf(loaded.carrierFrequency), BitsOf(ParseTransmitter(start).carrierFrequency)) << name;
    }
    const TransmitterSettings digits = ParseTransmitter(std::string(1 << 20, '7'));
    EXPECT_EQ(digits.sampleRate, INT32_MAX);
    EXPECT_EQ(digits.carrierFrequency, 1500.0);
}

}  // namespace
