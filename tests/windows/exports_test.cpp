// orvlink.dll as a host loads it at run time: every export by its name and by
// its ordinal, both leading to the same function.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Export {
    const char *name;
    WORD ordinal;
};

constexpr Export kExports[] = {
    {"OrvOpenComm", 1},  {"OrvCloseComm", 2}, {"OrvSendCommand", 3},     {"OrvWriteData", 4},
    {"OrvReadData", 5},  {"OrvHandshake", 6}, {"OrvDevicePowerON", 7},
};

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(module_, nullptr) << GetLastError(); }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    FARPROC byName(const char *name) const { return GetProcAddress(module_, name); }
    FARPROC byOrdinal(WORD ordinal) const {
        return GetProcAddress(module_, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
    }

    HMODULE module_ = LoadLibraryA("orvlink.dll");
};

TEST_F(LoadedLibrary, EveryExportIsFoundByNameAndByOrdinalAtTheSameAddress) {
    for (const Export &e : kExports) {
        SCOPED_TRACE(e.name);
        const FARPROC named = byName(e.name);
        ASSERT_NE(named, nullptr);
        EXPECT_EQ(byOrdinal(e.ordinal), named);
    }
    EXPECT_EQ(byOrdinal(8), nullptr);
    EXPECT_EQ(byName("ModemConnect"), nullptr);
}

TEST_F(LoadedLibrary, CallsByOrdinalReachTheLibrary) {
    using OpenComm = int32_t(WINAPI *)(int32_t, int32_t, const char *, uint32_t);
    using CloseComm = int32_t(WINAPI *)(void);
    auto close = reinterpret_cast<CloseComm>(reinterpret_cast<void *>(byOrdinal(2)));
    auto open = reinterpret_cast<OpenComm>(reinterpret_cast<void *>(byOrdinal(1)));
    ASSERT_NE(close, nullptr);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(close(), 1);                   // no link open: nothing to close
    EXPECT_EQ(open(0, 0, nullptr, 0), 0);    // port 0 is refused before anything
    EXPECT_EQ(open(1000, 0, nullptr, 0), 0); // and so is 1000
}

}  // namespace
