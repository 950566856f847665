#include "common/settings.h"

#include "common/rounding.h"
#include "common/settings_number.h"
#include "common/settings_values.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

int32_t SampleRateFromValue(const std::string& value)
{
    // The conversion to long double is exact for every ordinary rate, so
    // the halves reach the rounding unchanged; RoundHalfEvenToInt32 holds
    // the result inside the signed 32-bit range (infinities included).
    const long double rate = ConvertSettingsNumber<long double>(SettingsNumberText(value));
    return RoundHalfEvenToInt32(rate);
}

template <typename Carrier>
Carrier CarrierFromValue(const std::string& value)
{
    const Carrier carrier = ConvertSettingsNumber<Carrier>(SettingsNumberText(value));
    if (std::isinf(carrier))
        return std::copysign(std::numeric_limits<Carrier>::max(), carrier);
    return carrier;
}

// The file's first `limit` bytes; nothing when it cannot be opened or read.
std::vector<char> ReadFileStart(const char* path, size_t limit)
{
    std::vector<char> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return bytes;
    bytes.resize(limit);
    bytes.resize(std::fread(bytes.data(), 1, limit, file));
    if (std::ferror(file))
        bytes.clear();
    std::fclose(file);
    return bytes;
}

}  // namespace

template <typename Carrier>
Settings<Carrier> ParseSettings(const char* data, size_t size)
{
    SettingsCursor cursor = MakeSettingsCursor(data, size);
    const std::string rateValue = ReadSettingsValue(cursor);
    const std::string carrierValue = ReadSettingsValue(cursor);

    Settings<Carrier> settings{SampleRateFromValue(rateValue), CarrierFromValue<Carrier>(carrierValue)};
    // Each default on its own, after the value is held in its own type: a
    // carrier that is 0 only as a float (1e-50) takes it in the receiver.
    if (settings.sampleRate == 0)
        settings.sampleRate = DEFAULT_SAMPLE_RATE;
    if (settings.carrierFrequency == 0)
        settings.carrierFrequency = DEFAULT_CARRIER_FREQUENCY;
    return settings;
}

template <typename Carrier>
Settings<Carrier> LoadSettings(const char* path)
{
    const std::vector<char> bytes = ReadFileStart(path, SETTINGS_READ_LIMIT);
    return ParseSettings<Carrier>(bytes.data(), bytes.size());
}

template Settings<float> ParseSettings<float>(const char*, size_t);
template Settings<double> ParseSettings<double>(const char*, size_t);
template Settings<float> LoadSettings<float>(const char*);
template Settings<double> LoadSettings<double>(const char*);
