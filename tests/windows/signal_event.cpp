// orvwin_signal NAME: sets the named event NAME that another process holds,
// as a second Windows program would. Exit 0 when set, 1 when no event of
// that name exists, 2 on bad usage.
#include <windows.h>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvwin_signal NAME\n");
        return 2;
    }
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (event == nullptr) return 1;
    const BOOL set = SetEvent(event);
    CloseHandle(event);
    return set ? 0 : 1;
}
