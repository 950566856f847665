#include "soundclock/options.h"

#include "common/settings.h"

#include <cmath>
#include <cstdlib>

double ParseNumber(const std::string& text, const std::string& what)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(value))
        throw UsageError{what + ": not a number: " + text};
    return value;
}

long ParseInteger(const std::string& text, const std::string& what, long lowest, long highest)
{
    const double value = ParseNumber(text, what);
    if (value != std::floor(value) || value < lowest || value > highest)
        throw UsageError{what + ": a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) + " is needed"};
    return static_cast<long>(value);
}

int ParseRate(const std::string& text, const std::string& what)
{
    return static_cast<int>(ParseInteger(text, what, LOWEST_CARD_RATE, HIGHEST_CARD_RATE));
}

SignalChoice SettingsFromFile()
{
    const TransmitterSettings settings = LoadSettings<double>();
    return {settings.sampleRate, settings.carrierFrequency};
}

void CheckSignalChoice(const SignalChoice& choice)
{
    if (choice.rate < LOWEST_CARD_RATE || choice.rate > HIGHEST_CARD_RATE)
        throw UsageError{"the signal's sample rate " + std::to_string(choice.rate) + " Hz is not one a sound card plays (" +
                         std::to_string(LOWEST_CARD_RATE) + " to " + std::to_string(HIGHEST_CARD_RATE) + " Hz)"};
    if (!(choice.carrier > 0 && choice.carrier < choice.rate / 2.0))
        throw UsageError{"the carrier " + std::to_string(choice.carrier) + " Hz must lie between 0 and half the sample rate"};
}

ReferenceKind ParseReference(const std::string& text)
{
    ReferenceKind kind;
    const std::string tonePrefix = "tone:";
    if (text == "system")
        kind.type = ReferenceType::System;
    else if (text == "pps")
        kind.type = ReferenceType::Pps;
    else if (text.compare(0, tonePrefix.size(), tonePrefix) == 0) {
        kind.type = ReferenceType::Tone;
        kind.toneHz = ParseNumber(text.substr(tonePrefix.size()), "--reference tone:HZ");
        if (kind.toneHz <= 0)
            throw UsageError{"--reference tone:HZ: the tone's frequency must be more than 0 Hz"};
    } else if (text == "ticks:wwv" || text == "ticks:wwvh" || text == "ticks:chu") {
        kind.type = ReferenceType::Ticks;
        kind.station = text == "ticks:wwv" ? TimeStation::Wwv : text == "ticks:wwvh" ? TimeStation::Wwvh : TimeStation::Chu;
    } else
        throw UsageError{"--reference: system, pps, tone:HZ, ticks:wwv, ticks:wwvh or ticks:chu, not " + text};
    return kind;
}
