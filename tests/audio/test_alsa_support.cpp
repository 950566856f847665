// What the ALSA backend says when a card is busy: which names are a card's
// own devices, which card they name, and the advice that goes with EBUSY
// (no card is held by a server on a test machine, so the words are tested
// here, where they are made).
#include "audio/alsa_support.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(AlsaSupport, CardNumbersOfACardsOwnDevices)
{
    const struct {
        const char* name;
        int card;
    } cases[] = {
        {"hw:1", 1},        {"hw:0,0", 0},        {"plughw:2,1", 2}, {"hw:CARD=3,DEV=0", 3},
        {"plughw:\"1\"", 1}, {"hw:CARD=NoSuchCard", -1}, {"hw:", -1},   {"hw:123", -1},
        {"pulse", -1},      {"default", -1},      {"sysdefault:1", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CardNumberOf(c.name), c.card) << c.name;
}

TEST(AlsaSupport, ABusyCardGetsTheWaysToReachIt)
{
    const std::string advice = BusyCardAdvice("plughw:1,0");
    for (const char* part : {"desktop's sound server", "\"pulse\" or \"pipewire\"", "soundclock devices",
                             "pasuspender -- soundclock ...", "pw-reserve -n Audio1 -r"})
        EXPECT_NE(advice.find(part), std::string::npos) << advice << "\n  lacks: " << part;
    EXPECT_NE(BusyCardAdvice("hw:CARD=NoSuchCard").find("pw-reserve -n AudioN -r\" running in another terminal while "
                                                        "soundclock runs (N: the card's number, from aplay -l)"),
              std::string::npos);
    // Anything but a card's own device is busy for other reasons.
    EXPECT_EQ(BusyCardAdvice("pulse"), "");
    EXPECT_EQ(BusyCardAdvice("dmix:1"), "");
}

// The library's own words go into the error text as one line: a plugin's
// line end (the pulse plugin ends its messages with one) would put the
// closing bracket on a line of its own, and a "\n" into the JSON.
TEST(AlsaSupport, TheLibrarysWordsAreOneLine)
{
    TakeOverAlsaMessages();
    snd_lib_error(__FILE__, __LINE__, __func__, 0, "PulseAudio: Unable to connect: %s\n", "Connection refused");
    EXPECT_EQ(AlsaErrorWords(-EIO), std::string(snd_strerror(-EIO)) + " (ALSA: PulseAudio: Unable to connect: Connection refused)");
    // taken once: the next error has its own words, or none
    EXPECT_EQ(AlsaErrorWords(-EIO), snd_strerror(-EIO));
}

}  // namespace
