/* Calls every export through orvlink.h and the import library; run, it makes
 * calls that need no port: each must fail cleanly or close nothing. */
#include <stddef.h>

#include "orvlink.h"

int main(void) {
    uint16_t more = 0;
    uint32_t value = 0;
    uint8_t buffer[4] = {0};
    int failures = 0;
    failures += OrvOpenComm(0, 0, NULL, 0) != 0;
    failures += OrvCloseComm() != 1;
    failures += OrvSendCommand(0x10, 0, 0, &more, &value, 10) != 0;
    failures += OrvWriteData(buffer, sizeof buffer, 0x21, 0, 0, &more, &value, 10, 4) != 0;
    failures += OrvReadData(buffer, sizeof buffer, 0x22, 0, 0, &more, &value, 10, 4) != 0;
    failures += OrvHandshake(0x10, 0, 0, &more, &value) != 0;
    failures += OrvDevicePowerON() != 1;
    return failures;
}
