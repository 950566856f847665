// Bringing an oscillator's phase back into one turn, [0, turn), for the
// transmitter's carrier (doubles) and the receiver's mixing oscillator
// (floats) alike.
#pragma once

#include <cmath>

// The phase brought into [0, turn): fmodl's remainder is exact, so every
// build gets the same bits; a negative remainder is moved up by one turn
// at extended precision, and the result is stored through `store` (the
// caller's rounding to its type). Just below a full turn the stored value
// can round up to the turn itself: that is 0. A phase that is not finite
// gives what fmodl gives (not a number); callers that must not see one
// check first.
template <typename Stored, typename Store>
Stored WrapIntoTurn(long double phase, long double turn, Store store)
{
    long double remainder = std::fmod(phase, turn);
    if (remainder < 0)
        remainder += turn;
    const Stored wrapped = store(remainder);
    return wrapped >= turn ? Stored(0) : wrapped;
}
