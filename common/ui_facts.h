// Window titles, control ids and trackbar figures that the two programs,
// the demo and the end-to-end scripts all refer to, each defined once.
//
// The scripts read this file through ui_facts.sh, which turns every line
// of the form `constexpr TYPE NAME = VALUE;` into a shell variable NAME:
// keep each definition on one line, a number or a plain string literal.
#pragma once

// Main dialog titles.
constexpr const char* TRANSMITTER_TITLE = "Stanag 4285 Pharolet";
constexpr const char* RECEIVER_TITLE = "STANAG 4285 Quorvane";
constexpr const char* SOUNDCARD_TITLE = "Select soundcard";
// The captions of the programs' own message boxes (the receiver's is its
// name, for every box that has no caption of its own).
constexpr const char* TRANSMITTER_BOX_CAPTION = "STANAG 4285";
constexpr const char* RECEIVER_BOX_CAPTION = "Quorvane";

// Both main dialogs: "Soundcard".
constexpr int ID_SOUNDCARD_BUTTON = 1310;
// The selection dialog: the device combo box and "OK".
constexpr int ID_DEVICE_LIST = 1300;
constexpr int ID_DEVICE_OK = 4321;
// The transmitter: "Turn On" / "Turn Off".
constexpr int ID_TRANSMIT_BUTTON = 1002;
// The receiver's controls.
constexpr int ID_WATERFALL = 4000;
constexpr int ID_PEAK_LABEL = 4001;
constexpr int ID_CURVE = 4002;
constexpr int ID_CLOCK_LABEL = 4005;
constexpr int ID_CLOCK_TRACKBAR = 700;

// The receiver's clock trackbar: position p applies the correction
// (CLOCK_TRACKBAR_CENTRE - p) / CLOCK_STEPS_PER_UNIT, so the range spans
// +0.2 % .. -0.2 % and the centre is no correction.
constexpr int CLOCK_TRACKBAR_MINIMUM = 0;
constexpr int CLOCK_TRACKBAR_MAXIMUM = 2000;
constexpr int CLOCK_TRACKBAR_CENTRE = 1000;
constexpr int CLOCK_STEPS_PER_UNIT = 500000;
