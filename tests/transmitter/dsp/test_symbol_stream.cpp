// AdvanceSymbol: the Barker burst frame of 256 positions.
#include "transmitter/dsp/synthesis.h"

#include <gtest/gtest.h>

namespace {

const double kChips[13] = {1, 1, 1, 1, 1, -1, -1, 1, 1, -1, 1, -1, 1};

// symbols[c] is currentSymbol after call c (calls counted from 1).
std::vector<ComplexValue> SymbolsAfterCalls(Synthesis& s, int calls)
{
    std::vector<ComplexValue> symbols(1, ComplexValue{0, 0});
    for (int c = 1; c <= calls; ++c) {
        s.AdvanceSymbol();
        symbols.push_back(s.currentSymbol);
    }
    return symbols;
}

TEST(AdvanceSymbol, FirstFrameLacksChipZeroLaterFramesAreComplete)
{
    Synthesis s;
    s.InitSynthesis();
    const auto symbols = SymbolsAfterCalls(s, 600);
    for (int c = 1; c <= 600; ++c) {
        const int position = c % FRAME_LENGTH;
        const double expected = position < 13 ? kChips[position] : 0.0;
        EXPECT_EQ(symbols[c].re, expected) << "call " << c;
        EXPECT_EQ(symbols[c].im, 0.0) << "call " << c;
    }
    // Call 256 wraps the position to 0 and sends chip 0.
    EXPECT_EQ(symbols[255].re, 0.0);
    EXPECT_EQ(symbols[256].re, 1.0);
    EXPECT_EQ(s.framePosition, 600 % FRAME_LENGTH);
}

TEST(AdvanceSymbol, EveryWindowOf256CallsHoldsThirteenChips)
{
    Synthesis s;
    s.InitSynthesis();
    const auto symbols = SymbolsAfterCalls(s, 256 * 6);
    for (int start : {256, 257, 300, 268, 269, 511, 1000, 1280}) {
        int nonZero = 0;
        for (int c = start; c < start + 256; ++c)
            nonZero += symbols[c].re != 0.0;
        EXPECT_EQ(nonZero, 13) << "window from call " << start;
    }
}

TEST(AdvanceSymbol, PositionCountsOnAcrossAStopInsteadOfRestarting)
{
    // Turn Off / Turn On touch nothing: the next call simply continues.
    Synthesis s;
    s.InitSynthesis();
    SymbolsAfterCalls(s, 259);  // mid-burst of the second frame, position 3
    EXPECT_EQ(s.framePosition, 3);
    s.AdvanceSymbol();
    EXPECT_EQ(s.framePosition, 4);
    EXPECT_EQ(s.currentSymbol.re, kChips[4]);
}

}  // namespace
