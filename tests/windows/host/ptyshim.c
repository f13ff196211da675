/*
 * LD_PRELOAD library for running the Windows build under Wine against
 * pseudo-terminals. Wine's serial layer asks a port for its modem lines
 * (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC), which a pty refuses, and a pty
 * refuses some line settings that a serial port takes, or drops them (data
 * bits, parity). Here a pty answers those calls as a port with a modem
 * attached would: DTR and RTS as last set, CTS, DSR and DCD high, and the
 * data bits and parity as last set. Every setting of DTR or RTS (the state after it) and
 * every line setting asked for is logged, one line each, to the file named by ORVLINK_PTYSHIM_LOG:
 *   /dev/pts/7 dtr=1 rts=1
 *   /dev/pts/7 speed=19200 data=8 parity=e stop=2
 * Anything that is not a pty passes through untouched.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

/* Unix98 pty slaves: majors 136 to 143. */
static int PtyNumber(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return -1;
    unsigned major = major(st.st_rdev);
    if (major < 136 || major > 143) return -1;
    return (int)((major - 136) * 256 + minor(st.st_rdev));
}

static void Log(int pty, const char *text) {
    const char *path = getenv("ORVLINK_PTYSHIM_LOG");
    if (path == NULL || path[0] == '\0') return;
    char line[160];
    int n = snprintf(line, sizeof line, "/dev/pts/%d %s\n", pty, text);
    if (n <= 0 || (size_t)n >= sizeof line) return;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ssize_t unused = write(fd, line, (size_t)n); /* one write: lines stay whole */
    (void)unused;
    close(fd);
}

/* The lines DTR and RTS of each pty of this process, as last set. */
enum { kMaxPty = 2048 };
static int lines[kMaxPty];
static unsigned char known[kMaxPty];
static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;

static int ModemLines(int pty, unsigned long request, int *arg) {
    const int settable = TIOCM_DTR | TIOCM_RTS;
    pthread_mutex_lock(&mutex);
    if (!known[pty]) {
        known[pty] = 1;
        lines[pty] = 0;
    }
    switch (request) {
    case TIOCMGET: *arg = lines[pty] | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR; break;
    case TIOCMSET: lines[pty] = *arg & settable; break;
    case TIOCMBIS: lines[pty] |= *arg & settable; break;
    case TIOCMBIC: lines[pty] &= ~(*arg & settable); break;
    }
    int after = lines[pty];
    pthread_mutex_unlock(&mutex);
    if (request != TIOCMGET) {
        char text[32];
        snprintf(text, sizeof text, "dtr=%d rts=%d", !!(after & TIOCM_DTR), !!(after & TIOCM_RTS));
        Log(pty, text);
    }
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) {
        int pty = PtyNumber(fd);
        if (pty >= 0 && pty < kMaxPty && arg != NULL) return ModemLines(pty, request, (int *)arg);
    }
    return real(fd, request, arg);
}

static unsigned Speed(speed_t code) {
    static const struct { speed_t code; unsigned bps; } kSpeeds[] = {
        {B300, 300},     {B600, 600},     {B1200, 1200},   {B2400, 2400},
        {B4800, 4800},   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}};
    for (size_t i = 0; i < sizeof kSpeeds / sizeof kSpeeds[0]; ++i)
        if (kSpeeds[i].code == code) return kSpeeds[i].bps;
    return 0;
}

static void LogSettings(int pty, const struct termios *t) {
    static const int kBits[] = {5, 6, 7, 8};
    char text[96];
    char parity = !(t->c_cflag & PARENB) ? 'n' : (t->c_cflag & PARODD) ? 'o' : 'e';
    snprintf(text, sizeof text, "speed=%u data=%d parity=%c stop=%d",
             Speed(cfgetospeed(t)), kBits[(t->c_cflag & CSIZE) >> 4], parity,
             (t->c_cflag & CSTOPB) ? 2 : 1);
    Log(pty, text);
}

/* The data bits and parity last asked for on each pty: a pty drops them, a
 * serial port keeps them, and Wine reads them back before each change. */
static const tcflag_t kKept = CSIZE | PARENB | PARODD;
static tcflag_t keptFlags[kMaxPty];
static unsigned char keptKnown[kMaxPty];

int tcgetattr(int fd, struct termios *t) {
    static int (*real)(int, struct termios *);
    if (real == NULL) real = (int (*)(int, struct termios *))dlsym(RTLD_NEXT, "tcgetattr");
    int result = real(fd, t);
    int pty = result == 0 && t != NULL ? PtyNumber(fd) : -1;
    if (pty >= 0 && pty < kMaxPty) {
        pthread_mutex_lock(&mutex);
        if (keptKnown[pty]) t->c_cflag = (t->c_cflag & ~kKept) | keptFlags[pty];
        pthread_mutex_unlock(&mutex);
    }
    return result;
}

int tcsetattr(int fd, int action, const struct termios *t) {
    static int (*real)(int, int, const struct termios *);
    if (real == NULL) real = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    int pty = PtyNumber(fd);
    if (pty >= kMaxPty) pty = -1;
    if (pty >= 0 && t != NULL) {
        LogSettings(pty, t);
        pthread_mutex_lock(&mutex);
        keptKnown[pty] = 1;
        keptFlags[pty] = t->c_cflag & kKept;
        pthread_mutex_unlock(&mutex);
    }
    int result = real(fd, action, t);
    /* A pty keeps 8 data bits and no parity whatever it is asked for. */
    if (result != 0 && errno == EINVAL && pty >= 0) return 0;
    return result;
}
