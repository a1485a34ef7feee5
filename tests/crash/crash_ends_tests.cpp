// A test program that crashes ends at once in the test prefix, with the
// exception as its exit code, instead of waiting in Wine's debugger until
// ctest's time limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(ACrashingTestProgram, EndsAtOnceWithItsException) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  std::wstring crash = path;
  crash = crash.substr(0, crash.rfind(L'\\') + 1) + L"crash_on_purpose.exe";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(crash.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process))
      << GetLastError();
  const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "still waiting after 30 s: a crash dialog or a debugger holds it";
  EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}
