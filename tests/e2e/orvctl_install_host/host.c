/* A host application of the installed library, in C: opens COM<port>,
 * sends one command and prints the device's value. */
#include <stdio.h>
#include <stdlib.h>

#include <orvlink.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host PORT ARGUMENT\n");
        return 2;
    }
    const int32_t port = atoi(argv[1]);
    const uint32_t argument = (uint32_t)strtoul(argv[2], NULL, 10);
    if (OrvOpenComm(port, 0, NULL, 0) != 1) {
        fprintf(stderr, "OrvOpenComm failed\n");
        return 1;
    }
    uint16_t more = 0;
    uint32_t value = 0;
    const int32_t sent = OrvSendCommand(0x10, 0, argument, &more, &value, 1000);
    OrvCloseComm();
    if (sent != 1) {
        fprintf(stderr, "OrvSendCommand failed\n");
        return 1;
    }
    printf("value %u\n", value);
    return 0;
}
