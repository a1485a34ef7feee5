// Session history rings.
#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "tests/support.h"

class History : public ::testing::Test {
 protected:
  void SetUp() override { ResetAppState(); }
};

TEST_F(History, EmptyRingsCopyNothing) {
  EXPECT_EQ(UsageSampleCount(), 0);
  int32_t out[3] = {-7, -7, -7};
  CopyRecentUsage(out, 3);
  EXPECT_EQ(out[0], -7);
  CleanRecord records[2] = {};
  records[0].processes = -7;
  EXPECT_EQ(CopyRecentCleans(records, 2), 0);
  EXPECT_EQ(records[0].processes, -7);
}

TEST_F(History, UsageRingKeepsTheNewest300OldestFirst) {
  for (int v = 1; v <= 301; ++v) PushUsageSample(v);
  EXPECT_EQ(UsageSampleCount(), 300);
  std::vector<int32_t> out(300);
  CopyRecentUsage(out.data(), 300);
  for (int k = 0; k < 300; ++k) ASSERT_EQ(out[k], k + 2) << k;

  // Asking for fewer gives the newest; asking for more gives what is held.
  int32_t newest[3] = {};
  CopyRecentUsage(newest, 3);
  EXPECT_EQ(newest[0], 299);
  EXPECT_EQ(newest[2], 301);
  std::vector<int32_t> more(400, -1);
  CopyRecentUsage(more.data(), 400);
  EXPECT_EQ(more[299], 301);
  EXPECT_EQ(more[300], -1);
}

TEST_F(History, UsageCopyOfNothingOrLessThanNothing) {
  PushUsageSample(5);
  int32_t out[1] = {-7};
  CopyRecentUsage(out, 0);
  CopyRecentUsage(out, -4);
  EXPECT_EQ(out[0], -7);
}

TEST_F(History, CleanRingCopiesWholeRecordsOldestFirst) {
  for (int i = 1; i <= 3; ++i) RecordClean(i * 10.5, i);
  CleanRecord out[5] = {};
  ASSERT_EQ(CopyRecentCleans(out, 5), 3);
  EXPECT_EQ(out[0].processes, 1);
  EXPECT_DOUBLE_EQ(out[0].freed_mb, 10.5);
  EXPECT_EQ(out[2].processes, 3);
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_EQ(out[2].time.wYear, now.wYear);
  EXPECT_EQ(CopyRecentCleans(out, 0), 0);
  EXPECT_EQ(CopyRecentCleans(out, -3), -3);
}

TEST_F(History, CleanRingDropsTheOldestAfter50) {
  for (int i = 1; i <= 51; ++i) RecordClean(0.0, i);
  EXPECT_EQ(app.clean_history.count, 50);
  CleanRecord out[50] = {};
  ASSERT_EQ(CopyRecentCleans(out, 50), 50);
  EXPECT_EQ(out[0].processes, 2);
  EXPECT_EQ(out[49].processes, 51);
}
