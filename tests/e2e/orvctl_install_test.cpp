// cmake --install gives a tree that a host application builds against, with
// pkg-config and with find_package, and that runs against the installed
// orvctl's device simulator.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/orvctl_process.h"
#include "support/test_env.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

Finished Shell(const std::string &script) {
    Child child({"/bin/sh", "-c", script});
    return child.finish(300s);
}

TEST(OrvctlInstall, AHostProgramBuildsAgainstTheInstalledTreeBothWaysAndRuns) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an instrumented library needs its sanitizer's runtime in every host";
#endif
    TestEnv env;
    const std::string prefix = env.dir() + "/prefix";
    const std::string hostSource = ORVLINK_SOURCE_DIR "/tests/e2e/orvctl_install_host";
    const Finished install = Shell("cmake --install " ORVLINK_BINARY_DIR " --prefix " + prefix);
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;

    EXPECT_TRUE(fs::is_regular_file(prefix + "/include/orvlink.h"));
    EXPECT_TRUE(fs::is_regular_file(prefix + "/bin/orvctl"));
    EXPECT_EQ(fs::read_symlink(prefix + "/lib/liborvlink.so").string(), "liborvlink.so.1");
    EXPECT_TRUE(fs::is_symlink(prefix + "/lib/liborvlink.so.1"));
    EXPECT_TRUE(fs::is_regular_file(prefix + "/lib/liborvlink.so.1"));

    const Finished viaPkgConfig = Shell(
        "cd " + env.dir() + " && export PKG_CONFIG_PATH=" + prefix + "/lib/pkgconfig && "
        "cc " + hostSource + "/host.c $(pkg-config --cflags --libs orvlink) "
        "-Wl,-rpath,$(pkg-config --variable=libdir orvlink) -o host-pc");
    ASSERT_EQ(viaPkgConfig.exitCode, 0) << viaPkgConfig.err;
    const Finished viaCMake = Shell(
        "cmake -S " + hostSource + " -B " + env.dir() + "/host-build -DCMAKE_PREFIX_PATH=" + prefix +
        " && cmake --build " + env.dir() + "/host-build");
    ASSERT_EQ(viaCMake.exitCode, 0) << viaCMake.out << viaCMake.err;

    Child device({prefix + "/bin/orvctl", "sim", "device"});
    const std::string path = device.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << device.err();
    env.mapPort(2, path);
    for (const std::string &host : {env.dir() + "/host-pc", env.dir() + "/host-build/host"}) {
        SCOPED_TRACE(host);
        Child run({host, "2", "31337"});
        const Finished done = run.finish();
        EXPECT_EQ(done.exitCode, 0) << done.err;
        EXPECT_EQ(done.out, "value 31337\n");
    }
}

}  // namespace
}  // namespace orv::test
