// Named events: FIFOs in a per-user directory, shared by the user's
// processes, and set from outside by name.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/posix/named_events.h"
#include "platform/posix/win_api.h"
#include "support/test_env.h"

namespace orv::win {
namespace {

using Clock = std::chrono::steady_clock;

// Runs body in a child process; its exit code.
template <class Body>
int InChild(Body body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class NamedEventsTest : public ::testing::Test {
protected:
    std::string dir() const { return env.dir() + "/orvlink"; }
    orv::test::TestEnv env;  // XDG_RUNTIME_DIR points into it
};

TEST_F(NamedEventsTest, AnEventIsSharedWithAnotherProcessOfTheUser) {
    HANDLE ok = CreateEventA(nullptr, FALSE, FALSE, "ReceiveOK");
    ASSERT_NE(ok, nullptr);
    int code = InChild([] {
        HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, "ReceiveOK");
        return mine && SetEvent(mine) ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    // The child has gone; its signal stays while this process holds the event.
    EXPECT_EQ(WaitForSingleObject(ok, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ok, 0), WAIT_TIMEOUT);

    // And the other way: the child waits for this process's signal.
    SetEvent(ok);
    code = InChild([] {
        HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, "ReceiveOK");
        return mine && WaitForSingleObject(mine, 1000) == WAIT_OBJECT_0 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(WaitForSingleObject(ok, 0), WAIT_TIMEOUT);  // the child consumed it
    CloseHandle(ok);
}

TEST_F(NamedEventsTest, TwoHandlesOfOneNameInOneProcessShareTheSignal) {
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, "Send");
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, "Send");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    SetEvent(a);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // manual reset
    ResetEvent(b);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(NamedEventsTest, ASignalDiesWithTheLastHolder) {
    HANDLE e = CreateEventA(nullptr, FALSE, TRUE, "Receive");
    ASSERT_NE(e, nullptr);
    CloseHandle(e);
    e = CreateEventA(nullptr, FALSE, FALSE, "Receive");
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST_F(NamedEventsTest, DirectoryIsPrivateToTheUserAndTheFifoToo) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, "ReceiveFail");
    ASSERT_NE(e, nullptr);
    struct stat st {};
    ASSERT_EQ(lstat(dir().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_EQ(lstat((dir() + "/ReceiveFail").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(NamedEventDirectory(false), dir());
    CloseHandle(e);
}

TEST_F(NamedEventsTest, FallsBackToTmpWithoutARuntimeDirectory) {
    const std::string tmp = "/tmp/orvlink-" + std::to_string(geteuid());
    for (bool unset : {true, false}) {
        SCOPED_TRACE(unset ? "unset" : "empty");
        if (unset)
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", "", 1);
        EXPECT_EQ(NamedEventDirectory(true), tmp);
    }
}

TEST_F(NamedEventsTest, ADirectoryThatIsALinkOrSomeoneElsesIsNotUsed) {
    std::string elsewhere = env.dir() + "/elsewhere";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, dir());
    EXPECT_EQ(NamedEventDirectory(true), "");
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "Send"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/Send"));
    EXPECT_EQ(SignalNamedEvent("Send"), SignalResult::Failed);

    std::filesystem::remove(dir());
    std::filesystem::create_directory(dir());
    ASSERT_EQ(chown(dir().c_str(), geteuid() + 4242, getegid()), 0);
    EXPECT_EQ(NamedEventDirectory(true), "");
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "Send"), nullptr);
}

TEST_F(NamedEventsTest, BadNamesAreRefused) {
    for (const char *name : {"", ".", "..", "a/b", "../Send"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, name), nullptr);
        EXPECT_EQ(SignalNamedEvent(name), SignalResult::Failed);
    }
    std::string tooLong(300, 'x');
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, tooLong.c_str()), nullptr);
}

TEST_F(NamedEventsTest, SignalSetsAHeldEventAndFindsNoHolderOtherwise) {
    EXPECT_EQ(SignalNamedEvent("ReceiveFail"), SignalResult::NoHolder);  // no directory yet
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, "ReceiveFail");
    ASSERT_NE(e, nullptr);
    int code = InChild([] { return SignalNamedEvent("ReceiveFail") == SignalResult::Set ? 0 : 1; });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(WaitForSingleObject(e, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(SignalNamedEvent("ReceiveOK"), SignalResult::NoHolder);  // never created
    CloseHandle(e);
    // The FIFO stays behind, but nobody holds it.
    EXPECT_TRUE(std::filesystem::exists(dir() + "/ReceiveFail"));
    EXPECT_EQ(SignalNamedEvent("ReceiveFail"), SignalResult::NoHolder);
}

TEST_F(NamedEventsTest, AFullFifoCountsAsSet) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, "Send");
    ASSERT_NE(e, nullptr);
    for (int i = 0; i < 70000; ++i) SetEvent(e);
    EXPECT_EQ(SignalNamedEvent("Send"), SignalResult::Set);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

}  // namespace
}  // namespace orv::win
