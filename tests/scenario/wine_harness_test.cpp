// The Wine prefix that CTest runs the Windows tests in: a test that crashes
// must end at once instead of waiting in a debugger dialog (the probe's test
// checks the exit code), and closing a window must not wait for a window
// manager.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

std::string ReadText(HKEY root, const char* path, const char* name) {
    char text[256] = "(missing)";
    DWORD size = sizeof text;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return "(missing)";
    }
    return text;
}

TEST(WineHarness, PrefixHasNoCrashDebuggerAndNoWindowManagerWait) {
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE,
                       "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", "Debugger"),
              "");
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", "Managed"), "N");
}

}  // namespace
