#include "meter/wav_format.h"

#include <cstring>

namespace {

constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_FLOAT = 3;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;
constexpr uint32_t SIZE_UNKNOWN = 0xFFFFFFFFu;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool StartsAs(const unsigned char* bytes, size_t size, const char* tag, size_t at)
{
    for (size_t i = 0; i < 4 && at + i < size; ++i)
        if (bytes[at + i] != static_cast<unsigned char>(tag[i]))
            return false;
    return true;
}

std::string Printable(const unsigned char* id)
{
    std::string text;
    for (int i = 0; i < 4; ++i)
        text += (id[i] >= 32 && id[i] < 127) ? static_cast<char>(id[i]) : '?';
    return text;
}

WavParse Fail(std::string& problem, std::string text)
{
    problem = std::move(text);
    return WavParse::Invalid;
}

constexpr const char* WHAT_IS_READ = "soundclock reads 16-, 24- and 32-bit PCM and 32-bit float";

// The layout of a format tag (PCM or float, after WAVE_FORMAT_EXTENSIBLE's
// sub-format) and container size, or false with `problem` set.
bool EncodingOf(uint16_t tag, uint16_t bits, SampleEncoding& encoding, std::string& problem)
{
    if (tag == FORMAT_FLOAT && bits == 32) {
        encoding = SampleEncoding::Float32;
        return true;
    }
    if (tag == FORMAT_PCM && (bits == 16 || bits == 24 || bits == 32)) {
        encoding = bits == 16 ? SampleEncoding::S16 : bits == 24 ? SampleEncoding::S24In3 : SampleEncoding::S32;
        return true;
    }
    problem = "unsupported WAV format: " +
              (tag == FORMAT_FLOAT ? std::to_string(bits) + "-bit floating-point samples"
               : tag == FORMAT_PCM ? std::to_string(bits) + "-bit PCM"
                                   : "format tag " + std::to_string(tag) + " (compressed?)") +
              "; " + WHAT_IS_READ;
    return false;
}

// The "fmt " chunk's body, `length` bytes at `body` (all present).
WavParse ReadFormat(const unsigned char* body, uint32_t length, WavInfo& info, std::string& problem)
{
    if (length < 16)
        return Fail(problem, "not a usable WAV file: its fmt chunk holds " + std::to_string(length) + " bytes, fewer than 16");
    uint16_t tag = Le16(body);
    const uint16_t channels = Le16(body + 2);
    const uint32_t rate = Le32(body + 4);
    const uint16_t blockAlign = Le16(body + 12);
    const uint16_t bits = Le16(body + 14);
    if (tag == FORMAT_EXTENSIBLE) {
        if (length < 40)
            return Fail(problem, "not a usable WAV file: an extensible fmt chunk of " + std::to_string(length) + " bytes, fewer than 40");
        tag = Le16(body + 24);  // the first two bytes of the sub-format GUID
    }
    SampleEncoding encoding = SampleEncoding::S16;
    if (!EncodingOf(tag, bits, encoding, problem))
        return WavParse::Invalid;
    if (channels < 1)
        return Fail(problem, "unsupported WAV format: 0 channels");
    if (blockAlign != static_cast<uint32_t>(channels) * SampleBytes(encoding))
        return Fail(problem, "not a usable WAV file: block align " + std::to_string(blockAlign) + " does not match " +
                                 std::to_string(channels) + " channels of " + std::to_string(bits) + " bits");
    if (rate < 1 || rate > static_cast<uint32_t>(HIGHEST_SAMPLE_RATE))
        return Fail(problem, "unsupported WAV format: sample rate " + std::to_string(rate) + " Hz");
    info.sampleRate = static_cast<int32_t>(rate);
    info.channels = channels;
    info.bitsPerSample = bits;
    info.blockAlign = blockAlign;
    info.encoding = encoding;
    return WavParse::Complete;
}

}  // namespace

WavParse ParseWavHeader(const unsigned char* bytes, size_t size, WavInfo& info, std::string& problem)
{
    info = WavInfo{};
    if (!StartsAs(bytes, size, "RIFF", 0)) {
        if (StartsAs(bytes, size, "RF64", 0))
            return Fail(problem, "unsupported WAV format: RF64 (a WAV file over 4 GB)");
        return Fail(problem, "not a WAV file: it does not start with RIFF (for raw samples use --raw --rate R)");
    }
    if (size >= 12 && !StartsAs(bytes, size, "WAVE", 8))
        return Fail(problem, "not a WAV file: a RIFF file of type " + Printable(bytes + 8) + ", not WAVE");
    if (size < 12)
        return WavParse::NeedMoreData;

    bool haveFormat = false;
    size_t at = 12;  // the next chunk header
    for (;;) {
        if (at > WAV_HEADER_LIMIT)
            return Fail(problem, "not a usable WAV file: no data chunk within its first " + std::to_string(WAV_HEADER_LIMIT) + " bytes");
        if (size < 8 || at > size - 8)
            return WavParse::NeedMoreData;
        const unsigned char* id = bytes + at;
        const uint32_t length = Le32(bytes + at + 4);
        const size_t body = at + 8;
        if (std::memcmp(id, "data", 4) == 0) {
            if (!haveFormat)
                return Fail(problem, "not a usable WAV file: the data chunk comes before the fmt chunk");
            info.dataOffset = body;
            info.dataSizeKnown = length != 0 && length != SIZE_UNKNOWN;
            info.dataBytes = info.dataSizeKnown ? length : 0;
            return WavParse::Complete;
        }
        // Any other chunk must lie wholly within the header limit.
        const uint64_t next = static_cast<uint64_t>(body) + length + (length & 1u);
        if (next > WAV_HEADER_LIMIT)
            return Fail(problem, "not a usable WAV file: chunk \"" + Printable(id) + "\" of " + std::to_string(length) +
                                     " bytes before the samples (at most " + std::to_string(WAV_HEADER_LIMIT) + " bytes are read)");
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (length > size - body)
                return WavParse::NeedMoreData;
            const WavParse format = ReadFormat(bytes + body, length, info, problem);
            if (format != WavParse::Complete)
                return format;
            haveFormat = true;
        }
        at = static_cast<size_t>(next);
    }
}

namespace {

void PutLe(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

SampleEncoding WavEncodingFor(SampleEncoding encoding)
{
    return encoding == SampleEncoding::S24In4 ? SampleEncoding::S24In3 : encoding;
}

std::string MakeWavHeader(int32_t sampleRate, uint16_t channels, uint64_t dataBytes, SampleEncoding encoding)
{
    encoding = WavEncodingFor(encoding);
    const uint32_t sampleBytes = static_cast<uint32_t>(SampleBytes(encoding));
    const bool extensible = encoding != SampleEncoding::S16 || channels > 2;
    const uint32_t formatBytes = extensible ? 40 : 16;
    const uint32_t headerAfterRiff = 4 + 8 + formatBytes + 8;  // "WAVE", fmt chunk, data chunk header
    const bool known = dataBytes != WAV_SIZE_UNKNOWN && dataBytes <= 0xFFFFFFFFull - headerAfterRiff;
    const uint16_t tag = IsFloat(encoding) ? FORMAT_FLOAT : FORMAT_PCM;
    std::string header = "RIFF";
    PutLe(header, known ? static_cast<uint32_t>(dataBytes + headerAfterRiff) : SIZE_UNKNOWN, 4);
    header += "WAVEfmt ";
    PutLe(header, formatBytes, 4);
    PutLe(header, extensible ? FORMAT_EXTENSIBLE : tag, 2);
    PutLe(header, channels, 2);
    PutLe(header, static_cast<uint32_t>(sampleRate), 4);
    PutLe(header, static_cast<uint32_t>(sampleRate) * sampleBytes * channels, 4);
    PutLe(header, sampleBytes * channels, 2);
    PutLe(header, 8 * sampleBytes, 2);
    if (extensible) {
        PutLe(header, 22, 2);                           // the extension's size
        PutLe(header, 8 * sampleBytes, 2);              // valid bits: the whole container
        PutLe(header, 0, 4);                            // no speaker positions
        PutLe(header, tag, 2);                          // the sub-format GUID:
        header += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);  // KSDATAFORMAT_SUBTYPE_*
    }
    header += "data";
    PutLe(header, known ? static_cast<uint32_t>(dataBytes) : SIZE_UNKNOWN, 4);
    return header;
}
