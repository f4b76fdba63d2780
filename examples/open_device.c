/* zerik_open: opens the first scanner and closes it again. Everything the
 * library does on the way is in its log (ZERIK_LOG, or
 * ~/.local/state/zerik/zerik_dll.log). */
#include <stdio.h>

#include "zerik_dll.h"

int main(void) {
    DeviceContext* dev = Zerik_OpenDevice(NULL);
    if (dev == NULL) {
        printf("zerik_open: no scanner could be brought up\n");
        return 1;
    }
    printf("zerik_open: scanner ready\n");
    Zerik_CloseDevice(dev);
    return 0;
}
