// Whether this Windows program runs under Wine, where some of Windows'
// promises do not hold (a wave-out buffer comes back when Wine's driver
// takes it, not when it has played).
#pragma once

bool RunningUnderWine();
