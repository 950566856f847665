#include "audio/alsa_support.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// ALSA's library writes its own diagnostics to standard error. They are
// the device's own words: kept, per thread (the loop opens and runs its
// two streams in two), for the error text.
thread_local std::string lastLibraryMessage;

void KeepLibraryMessage(const char*, int, const char*, int, const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // One line of words: a plugin's own line end (the pulse plugin ends
    // its messages with one) and surrounding blanks go.
    std::string message = text;
    std::replace(message.begin(), message.end(), '\n', ' ');
    const size_t first = message.find_first_not_of(" \t\r");
    const size_t last = message.find_last_not_of(" \t\r");
    lastLibraryMessage = first == std::string::npos ? "" : message.substr(first, last - first + 1);
}

}  // namespace

void TakeOverAlsaMessages()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(KeepLibraryMessage); });
}

void ForgetAlsaMessage()
{
    lastLibraryMessage.clear();
}

std::string AlsaErrorWords(int err)
{
    std::string text = snd_strerror(err);
    if (!lastLibraryMessage.empty()) {
        text += " (ALSA: " + lastLibraryMessage + ")";
        lastLibraryMessage.clear();
    }
    return text;
}

const char* DirectionWord(AudioDirection direction)
{
    return direction == AudioDirection::Playback ? "playback" : "capture";
}

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

namespace {

// "hw:" and "plughw:" name a card directly; anything else is a plugin.
bool NamesCardDirectly(const std::string& name, std::string& rest)
{
    for (const char* prefix : {"hw:", "plughw:"}) {
        const std::string start = prefix;
        if (name.compare(0, start.size(), start) == 0) {
            rest = name.substr(start.size());
            return true;
        }
    }
    return false;
}

}  // namespace

int CardNumberOf(const std::string& name)
{
    std::string rest;
    if (!NamesCardDirectly(name, rest))
        return -1;
    // The card is the first argument, given bare or as CARD=...
    std::string card = rest.substr(0, rest.find(','));
    if (card.compare(0, 5, "CARD=") == 0)
        card = card.substr(5);
    if (card.size() >= 2 && card.front() == '"' && card.back() == '"')
        card = card.substr(1, card.size() - 2);
    if (card.empty())
        return -1;
    if (std::all_of(card.begin(), card.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return card.size() <= 2 ? std::stoi(card) : -1;
    const int number = snd_card_get_index(card.c_str());
    ForgetAlsaMessage();
    return number >= 0 ? number : -1;
}

std::string BusyCardAdvice(const std::string& name)
{
    std::string rest;
    if (!NamesCardDirectly(name, rest))
        return "";
    const int card = CardNumberOf(name);
    const std::string reservation = card >= 0 ? "Audio" + std::to_string(card) : "AudioN";
    return "another program holds the card, most likely the desktop's sound server (PulseAudio or PipeWire): "
           "reach the card through the server (the device \"pulse\" or \"pipewire\"; soundclock devices lists "
           "them), or have the server let go of it for the run: under PulseAudio run soundclock as "
           "\"pasuspender -- soundclock ...\"; under PipeWire (or PulseAudio) keep \"pw-reserve -n " +
           reservation + " -r\" running in another terminal while soundclock runs" +
           (card >= 0 ? "" : " (N: the card's number, from aplay -l)");
}
