// dspmon: the engineer's console for the scanner's DSP memory. Opens the
// first scanner, sets a fixed scan configuration, loads the shading tables
// and position files, then takes one-letter commands from standard input.
#include <cstdio>

#include "console.h"
#include "zerik_dll.h"

int main() {
    std::fputs("Open Device...\n", stdout);
    std::fflush(stdout);
    DeviceContext* dev = Zerik_OpenDevice(nullptr);
    if (dev == nullptr) {
        std::fputs("Open Device Failed!\n", stdout);
        return 0;
    }
    // Layer 1, 200 dpi, no normalisation, no gamma, LED bit 0; default DSP words.
    if (Zerik_SetScanParamsEx(dev, 1, 200, 0, 0, 1, 0, 0, 0, 0) != 0) {
        std::fputs("Set Param Failed!\n", stdout);
        Zerik_CloseDevice(dev);
        return 0;
    }
    if (Zerik_ResetTH(dev) != 0) {
        std::fputs("ReSet Page_Thick Failed!\n", stdout);
        Zerik_CloseDevice(dev);
        return 0;
    }
    dspmon::Console console(dev, stdin, stdout);
    console.LoadFiles();
    console.Run();
    Zerik_CloseDevice(dev);
    return 0;
}
