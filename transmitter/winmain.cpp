// pharolet.exe: the transmitter with the real message boxes and sound card.
#include "transmitter/transmitter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Win32WaveOut waveOut;
    Win32MessageBoxes messageBoxes;
    return PharoletMain(waveOut, messageBoxes);
}
