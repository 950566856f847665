// quorvane.exe: the receiver with the real message boxes and sound card.
#include "receiver/receiver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Win32WaveIn waveIn;
    Win32MessageBoxes messageBoxes;
    return ReceiverMain(waveIn, messageBoxes);
}
