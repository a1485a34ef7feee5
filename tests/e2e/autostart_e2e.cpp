// The real program applies "start with Windows" at each start: the Run value
// and the logon task come and go together with the setting.
#include "tests/e2e/harness.h"
#include "tests/support.h"

namespace {

bool WriteStartWithWindows(bool on) {
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  return WriteFileBytes(AppFile(L"config.ini"), on ? "[App]\r\nstart_with_windows=1\r\n"
                                                   : "[App]\r\nstart_with_windows=0\r\n");
}

}  // namespace

TEST_F(QuillmereTest, EachStartWritesOrRemovesTheTaskAndTheRunValue) {
  const std::wstring quoted = L"\"" + ExePath() + L"\"";

  ASSERT_TRUE(WriteStartWithWindows(true));
  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadRunValue(), quoted);
  TaskView task = ReadAutostartTask();
  ASSERT_TRUE(task.exists);
  ExpectAutostartTaskSettings(task);
  if (task.reported) {  // Windows; Wine 8 keeps no action or principal
    EXPECT_EQ(task.command, quoted);
    EXPECT_EQ(task.run_level, TASK_RUNLEVEL_HIGHEST);
    EXPECT_EQ(task.trigger_type, TASK_TRIGGER_LOGON);
  }
  EXPECT_EQ(Exit(), 0u);

  ASSERT_TRUE(WriteStartWithWindows(false));
  ASSERT_TRUE(Start());
  EXPECT_EQ(ReadRunValue(), L"");
  EXPECT_FALSE(ReadAutostartTask().exists);
  EXPECT_EQ(ReadAutostartTask().stored, 0);
  EXPECT_EQ(Exit(), 0u);
}
