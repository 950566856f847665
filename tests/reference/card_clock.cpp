#include "tests/reference/card_clock.h"
