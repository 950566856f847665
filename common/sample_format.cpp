#include "common/sample_format.h"

#include "common/rounding.h"

#include <cmath>
#include <cstring>

namespace {

constexpr long double FULL_SCALE_32 = 2147483648.0L;  // 2^31
constexpr int32_t S24_MIN = -(1 << 23);
constexpr int32_t S24_MAX = (1 << 23) - 1;

uint32_t LittleEndian(const unsigned char* bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

void PutLittleEndian(uint32_t value, size_t count, unsigned char* bytes)
{
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

// The low `bits` bits of `raw` as a signed number (two's complement).
int32_t SignExtend(uint32_t raw, int bits)
{
    const uint32_t sign = 1u << (bits - 1);
    const uint32_t field = bits == 32 ? raw : raw & ((sign << 1) - 1);
    return static_cast<int32_t>(static_cast<int64_t>(field ^ sign) - static_cast<int64_t>(sign));
}

// value / 2^shift, rounded half to even and held within [low, high].
int32_t RoundShift(int32_t value, int shift, int32_t low, int32_t high)
{
    const int64_t wide = value;
    const int64_t unit = int64_t{1} << shift;
    const int64_t remainder = wide & (unit - 1);
    int64_t quotient = (wide - remainder) / unit;
    if (remainder > unit / 2 || (remainder == unit / 2 && (quotient & 1) != 0))
        ++quotient;
    return static_cast<int32_t>(quotient < low ? low : quotient > high ? high : quotient);
}

float FloatFromBits(uint32_t bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t BitsOfFloat(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A float sample as the program takes it: finite, infinities at full scale.
float Tamed(float value)
{
    if (std::isnan(value))
        return 0;
    if (std::isinf(value))
        return value > 0 ? 1.0f : -1.0f;
    return value;
}

}  // namespace

size_t SampleBytes(SampleEncoding encoding)
{
    switch (encoding) {
    case SampleEncoding::S16: return 2;
    case SampleEncoding::S24In3: return 3;
    default: return 4;
    }
}

int SampleBits(SampleEncoding encoding)
{
    switch (encoding) {
    case SampleEncoding::S16: return 16;
    case SampleEncoding::S24In3:
    case SampleEncoding::S24In4: return 24;
    default: return 32;
    }
}

bool IsFloat(SampleEncoding encoding)
{
    return encoding == SampleEncoding::Float32;
}

const char* SampleWords(SampleEncoding encoding)
{
    switch (encoding) {
    case SampleEncoding::S16: return "16-bit";
    case SampleEncoding::S24In3:
    case SampleEncoding::S24In4: return "24-bit";
    case SampleEncoding::S32: return "32-bit";
    default: return "32-bit float";
    }
}

int32_t DecodeInt32(SampleEncoding encoding, const unsigned char* bytes)
{
    switch (encoding) {
    case SampleEncoding::S16: return SignExtend(LittleEndian(bytes, 2), 16) * 65536;
    case SampleEncoding::S24In3:
    case SampleEncoding::S24In4: return SignExtend(LittleEndian(bytes, 3), 24) * 256;
    case SampleEncoding::S32: return SignExtend(LittleEndian(bytes, 4), 32);
    default: return Int32FromFloat(FloatFromBits(LittleEndian(bytes, 4)));
    }
}

float DecodeFloat(SampleEncoding encoding, const unsigned char* bytes)
{
    if (encoding == SampleEncoding::Float32)
        return Tamed(FloatFromBits(LittleEndian(bytes, 4)));
    return static_cast<float>(DecodeInt32(encoding, bytes) / static_cast<double>(FULL_SCALE_32));
}

void EncodeInt32(SampleEncoding encoding, int32_t value, unsigned char* bytes)
{
    switch (encoding) {
    case SampleEncoding::S16:
        PutLittleEndian(static_cast<uint16_t>(Int16FromInt32(value)), 2, bytes);
        return;
    case SampleEncoding::S24In3:
    case SampleEncoding::S24In4:
        // S24In4's top byte carries the sign, as a 32-bit integer would.
        PutLittleEndian(static_cast<uint32_t>(RoundShift(value, 8, S24_MIN, S24_MAX)), SampleBytes(encoding), bytes);
        return;
    case SampleEncoding::S32:
        PutLittleEndian(static_cast<uint32_t>(value), 4, bytes);
        return;
    default:
        PutLittleEndian(BitsOfFloat(static_cast<float>(value / static_cast<double>(FULL_SCALE_32))), 4, bytes);
    }
}

void DecodeSamples(SampleEncoding encoding, const unsigned char* bytes, size_t count, int32_t* out)
{
    const size_t step = SampleBytes(encoding);
    for (size_t i = 0; i < count; ++i)
        out[i] = DecodeInt32(encoding, bytes + i * step);
}

void EncodeSamples(SampleEncoding encoding, const int32_t* samples, size_t count, unsigned char* out)
{
    const size_t step = SampleBytes(encoding);
    for (size_t i = 0; i < count; ++i)
        EncodeInt32(encoding, samples[i], out + i * step);
}

int16_t Int16FromInt32(int32_t value)
{
    return static_cast<int16_t>(RoundShift(value, 16, INT16_MIN, INT16_MAX));
}

int16_t Int16FromFloat(float value)
{
    const long double scaled = static_cast<long double>(Tamed(value)) * 32768.0L;
    const long long rounded = RoundHalfEven(scaled < -32768.0L ? -32768.0L : scaled > 32767.0L ? 32767.0L : scaled);
    return static_cast<int16_t>(rounded);
}

int32_t Int32FromFloat(float value)
{
    return RoundHalfEvenToInt32(static_cast<long double>(Tamed(value)) * FULL_SCALE_32);
}

void SpreadMono(const int16_t* mono, size_t frames, int channels, uint32_t signalChannels, int16_t* out)
{
    for (size_t frame = 0; frame < frames; ++frame)
        for (int channel = 0; channel < channels; ++channel)
            *out++ = (channel < 32 && (signalChannels >> channel) & 1u) != 0 ? mono[frame] : int16_t{0};
}
