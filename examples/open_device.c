/* zerik_open: opens the first scanner, reports what it finds and closes it.
 * Everything the library does on the way is in its log (ZERIK_LOG, or
 * ~/.local/state/zerik/zerik_dll.log). */
#include <stdio.h>

#include "zerik_dll.h"

int main(void) {
    DeviceContext* dev = Zerik_OpenDevice(NULL);
    if (dev == NULL) {
        printf("zerik_open: no scanner could be brought up\n");
        return 1;
    }
    int32_t state = -1;
    const int32_t state_rc = Zerik_GetMcState(dev, &state);
    uint16_t version[2] = {0, 0};
    const int32_t version_rc0 = Zerik_ReadDspUshort(dev, 0, 0x7F80, &version[0]);
    const int32_t version_rc1 = Zerik_ReadDspUshort(dev, 1, 0x7F80, &version[1]);
    printf("zerik_open: scanner ready\n");
    printf("  machine state %d (result %d)\n", (int)state, (int)state_rc);
    printf("  DSP firmware versions 0x%X, 0x%X (results %d, %d)\n", (unsigned)version[0],
           (unsigned)version[1], (int)version_rc0, (int)version_rc1);
    Zerik_CloseDevice(dev);
    return 0;
}
