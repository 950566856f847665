// Playback: the ring of buffers and how a second transmission continues
// the first.
#include "tests/transmitter/transmitter_fixture.h"
#include "transmitter/dsp/stream.h"

#include <vector>

namespace {

std::vector<unsigned char> Bytes(const std::vector<int16_t>& samples)
{
    std::vector<unsigned char> bytes;
    for (int16_t sample : samples) {
        bytes.push_back(static_cast<unsigned char>(sample & 0xFF));
        bytes.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
    }
    return bytes;
}

std::vector<unsigned char> Slice(const std::vector<unsigned char>& bytes, size_t fromBuffer, size_t buffers)
{
    auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(fromBuffer * BUFFER_BYTES);
    return {begin, begin + static_cast<std::ptrdiff_t>(buffers * BUFFER_BYTES)};
}

// The playable parts of the slots, in slot order.
std::vector<unsigned char> SlotContents(const Transmitter& transmitter)
{
    std::vector<unsigned char> bytes;
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        auto slot = transmitter.sampleSlots.begin() + static_cast<std::ptrdiff_t>(i) * SAMPLE_SLOT_BYTES;
        bytes.insert(bytes.end(), slot, slot + BUFFER_BYTES);
    }
    return bytes;
}

} // namespace

TEST_F(TransmitterTest, OpensMono16BitAtTheRateWithWindowCallback)
{
    SwitchOn();
    EXPECT_EQ(device.openedFormat.nSamplesPerSec, 8000u);
    EXPECT_EQ(device.openedFormat.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(device.openedFormat.nChannels, 1);
    EXPECT_EQ(device.openedFormat.wBitsPerSample, 16);
    EXPECT_EQ(device.openedDeviceId, 0u);
    ASSERT_EQ(transmitter.sampleSlots.size(), static_cast<size_t>(BUFFER_COUNT) * SAMPLE_SLOT_BYTES);
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        EXPECT_EQ(transmitter.waveHeaders[i].lpData,
                  reinterpret_cast<char*>(&transmitter.sampleSlots[static_cast<size_t>(i) * SAMPLE_SLOT_BYTES]));
        EXPECT_EQ(transmitter.waveHeaders[i].dwBufferLength, static_cast<DWORD>(BUFFER_BYTES));
    }
}

// -1 from the selection dialog ("nothing selected") opens WAVE_MAPPER.
TEST_F(TransmitterTest, NoSelectionOpensTheWaveMapper)
{
    transmitter.selectedDevice = -1;
    SwitchOn();
    EXPECT_EQ(device.openedDeviceId, WAVE_MAPPER);
}

// The first transmission plays the zero-filled ring, then the synthesis
// from program start; a second one replays the ring as the first left it,
// then continues the symbol sequence and the carrier where it stopped.
TEST_F(TransmitterTest, SecondTransmissionReplaysTheRingThenContinues)
{
    const std::vector<unsigned char> reference = Bytes(SynthesizeStream(8000, 1500.0, 3 * BUFFER_COUNT));

    SwitchOn();
    Play(2 * BUFFER_COUNT);
    ClickOnOff();
    Pump();
    ASSERT_EQ(device.played.size(), 2u * BUFFER_COUNT * BUFFER_BYTES);
    EXPECT_EQ(Slice(device.played, 0, BUFFER_COUNT), std::vector<unsigned char>(BUFFER_COUNT * BUFFER_BYTES, 0))
        << "silence first";
    EXPECT_EQ(Slice(device.played, BUFFER_COUNT, BUFFER_COUNT), Slice(reference, 0, BUFFER_COUNT));
    const std::vector<unsigned char> ringAtStop = SlotContents(transmitter);

    device.played.clear();
    SwitchOn();
    EXPECT_EQ(device.CountCalls("PrepareHeader"), 2u * BUFFER_COUNT) << "every header prepared again";
    Play(2 * BUFFER_COUNT);
    EXPECT_EQ(Slice(device.played, 0, BUFFER_COUNT), ringAtStop) << "the ring replayed in slot order";
    EXPECT_EQ(Slice(device.played, 0, BUFFER_COUNT), Slice(reference, BUFFER_COUNT, BUFFER_COUNT));
    EXPECT_EQ(Slice(device.played, BUFFER_COUNT, BUFFER_COUNT), Slice(reference, 2 * BUFFER_COUNT, BUFFER_COUNT))
        << "the sequence and the carrier continue";
    EXPECT_EQ(device.ruleViolations, 0);
}

// The ninth byte of a slot is never written (nor played).
TEST_F(TransmitterTest, NinthByteOfEverySlotStaysZero)
{
    SwitchOn();
    Play(3 * BUFFER_COUNT);
    for (int i = 0; i < BUFFER_COUNT; ++i)
        ASSERT_EQ(transmitter.sampleSlots[static_cast<size_t>(i) * SAMPLE_SLOT_BYTES + BUFFER_BYTES], 0) << "slot " << i;
}
