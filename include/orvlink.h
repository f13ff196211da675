/*
 * orvlink: talk to one device over one serial port, on a direct cable or
 * through a Hayes modem that the library dials.
 *
 * Every function returns 1 for success and 0 for failure (OrvDevicePowerON
 * always returns 1). Outputs are written only on success. One link per
 * process: a second OrvOpenComm closes the first.
 */
#ifndef ORVLINK_H
#define ORVLINK_H

#include <stdint.h>

#if defined(_WIN32)
#define ORVLINK_CALL __stdcall
#if defined(ORVLINK_BUILDING)
#define ORVLINK_API
#else
#define ORVLINK_API __declspec(dllimport)
#endif
#else
#define ORVLINK_CALL
#define ORVLINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens COM<portNumber> (1 to 999). viaModem 0: direct cable; otherwise the
 * modem is initialised and dials phoneNumber (1 to 60 characters), waiting
 * requestedDialWait seconds (10 to 60, else 10) for the connection. */
ORVLINK_API int32_t ORVLINK_CALL OrvOpenComm(int32_t portNumber, int32_t viaModem,
                                             const char *phoneNumber,
                                             uint32_t requestedDialWait);

/* Closes the link; 1 also when none was open. */
ORVLINK_API int32_t ORVLINK_CALL OrvCloseComm(void);

/* One command exchange with up to three attempts. moreFlagOut is required,
 * valueOut may be null. Each attempt waits up to 3 s for the acknowledgement
 * and replyTimeoutMs for the reply; a repeat first pauses replyTimeoutMs (at
 * most 3 s) so that a late answer to the failed attempt is dropped, not taken
 * for the repeat's. The same holds for every chunk of the transfers. */
ORVLINK_API int32_t ORVLINK_CALL OrvSendCommand(uint8_t command, uint8_t modifier,
                                                uint32_t argument, uint16_t *moreFlagOut,
                                                uint32_t *valueOut,
                                                uint32_t replyTimeoutMs);

/* Sends length bytes of buffer in chunks of chunkSize (1 to 10003) bytes. */
ORVLINK_API int32_t ORVLINK_CALL OrvWriteData(const uint8_t *buffer, uint32_t length,
                                              uint8_t command, uint8_t modifier,
                                              uint32_t argument, uint16_t *moreFlagOut,
                                              uint32_t *valueOut, uint32_t replyTimeoutMs,
                                              uint32_t chunkSize);

/* Fills length bytes of buffer from the device in chunks of chunkSize bytes. */
ORVLINK_API int32_t ORVLINK_CALL OrvReadData(uint8_t *buffer, uint32_t length,
                                             uint8_t command, uint8_t modifier,
                                             uint32_t argument, uint16_t *moreFlagOut,
                                             uint32_t *valueOut, uint32_t replyTimeoutMs,
                                             uint32_t chunkSize);

/* One quick exchange (50 ms for the acknowledgement, 100 ms for the reply),
 * one attempt. */
ORVLINK_API int32_t ORVLINK_CALL OrvHandshake(uint8_t command, uint8_t modifier,
                                              uint32_t argument, uint16_t *moreFlagOut,
                                              uint32_t *valueOut);

/* Sends the wake-up burst; always 1. */
ORVLINK_API int32_t ORVLINK_CALL OrvDevicePowerON(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVLINK_H */
