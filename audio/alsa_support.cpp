#include "audio/alsa_support.h"

#include <alsa/asoundlib.h>

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
    lastLibraryMessage = text;
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
