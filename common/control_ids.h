// Control identifiers that more than one dialog refers to.
#pragma once

constexpr int ID_TRANSMIT_BUTTON = 1002;   // transmitter: "Turn On" / "Turn Off"
constexpr int ID_SOUNDCARD_BUTTON = 1310;  // both main dialogs: "Soundcard"
constexpr int ID_DEVICE_LIST = 1300;       // selection dialog: the device combo box
constexpr int ID_DEVICE_OK = 4321;         // selection dialog: "OK"
