// soundclock calibrate's halves: one run on a card with its output looped
// to its input (calibrate_command.cpp), or two results saved earlier
// (calibrate_files.cpp).
#pragma once

#include "meter/calibration.h"
#include "soundclock/options.h"

#include <string>

int CalibrateLive(const CalibrateOptions& options);
int CalibrateFromFiles(const CalibrateOptions& options);

// Why a loop offset far beyond the nominal rates' ratio is not the card's
// own output coming back.
std::string LoopImplausibleText(const Calibration& calibration);
