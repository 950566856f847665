// How samples are laid out in bytes (a sound device's buffers, a WAV file's
// data), and the conversions between those layouts and the two forms the
// rest of the code works in:
//   int32_t at full scale 2^31: a sample of any width, shifted up so that
//     its top bit is bit 31 (a 16-bit sample << 16, a 24-bit one << 8);
//   float at full scale 1.0: a recording at its full resolution.
// Every layout is little-endian. Conversions that lose bits round half to
// even and clip to the range of the result, never truncate; a NaN reads as
// 0 and an infinity as full scale.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SampleEncoding {
    S16,      // signed 16-bit, 2 bytes
    S24In3,   // signed 24-bit packed in 3 bytes (ALSA S24_3LE, a WAV file's 24-bit PCM)
    S24In4,   // signed 24-bit in the low 3 bytes of 4 (ALSA S24_LE); the top byte is ignored
    S32,      // signed 32-bit, 4 bytes
    Float32,  // IEEE 754 single precision, full scale 1.0
};

// Bytes a sample takes, and the bits that carry it (16, 24, 24, 32, 32).
size_t SampleBytes(SampleEncoding encoding);
int SampleBits(SampleEncoding encoding);
bool IsFloat(SampleEncoding encoding);
// For people: "16-bit", "24-bit", "32-bit", "32-bit float".
const char* SampleWords(SampleEncoding encoding);

// One sample at `bytes` (SampleBytes(encoding) of them).
int32_t DecodeInt32(SampleEncoding encoding, const unsigned char* bytes);
float DecodeFloat(SampleEncoding encoding, const unsigned char* bytes);
// `value` (full scale 2^31) into SampleBytes(encoding) bytes at `bytes`.
void EncodeInt32(SampleEncoding encoding, int32_t value, unsigned char* bytes);

// `count` samples: from count * SampleBytes(encoding) bytes into `out`, and
// back.
void DecodeSamples(SampleEncoding encoding, const unsigned char* bytes, size_t count, int32_t* out);
void EncodeSamples(SampleEncoding encoding, const int32_t* samples, size_t count, unsigned char* out);

// Narrowing to the 16 bits the burst meter takes.
int16_t Int16FromInt32(int32_t value);
int16_t Int16FromFloat(float value);
int32_t Int32FromFloat(float value);

// A mono signal spread over frames of `channels` samples: channel c gets
// the signal where bit c of `signalChannels` is set, silence elsewhere.
// Writes frames * channels samples to `out`.
constexpr uint32_t ALL_CHANNELS = ~0u;
void SpreadMono(const int16_t* mono, size_t frames, int channels, uint32_t signalChannels, int16_t* out);
