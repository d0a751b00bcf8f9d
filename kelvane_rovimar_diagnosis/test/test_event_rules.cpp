#include <gtest/gtest.h>

#include <string>
#include <unordered_map>

#include "event_reports.hpp"

namespace {

using kelvane_rovimar_diagnosis::admitReport;
using kelvane_rovimar_diagnosis::decideLocalization;
using kelvane_rovimar_diagnosis::LocalizationDecision;
using kelvane_rovimar_diagnosis::LocalizationLossState;

constexpr int64_t kT0 = 1'700'000'000'000;

TEST(ReportRateLimit, DropsWithinASecondAndAcceptsAtOne) {
  std::unordered_map<std::string, int64_t> last;
  EXPECT_TRUE(admitReport(last, "PATH_GLOBAL_PLAN_STATUS", kT0));
  EXPECT_FALSE(admitReport(last, "PATH_GLOBAL_PLAN_STATUS", kT0 + 999));
  EXPECT_TRUE(admitReport(last, "PATH_GLOBAL_PLAN_STATUS", kT0 + 1000));
}

TEST(ReportRateLimit, DroppedReportDoesNotMoveTheStoredTime) {
  std::unordered_map<std::string, int64_t> last;
  ASSERT_TRUE(admitReport(last, "NAV_TO_POINT_STATUS", kT0));
  ASSERT_FALSE(admitReport(last, "NAV_TO_POINT_STATUS", kT0 + 600));
  EXPECT_EQ(last.at("NAV_TO_POINT_STATUS"), kT0);
  EXPECT_TRUE(admitReport(last, "NAV_TO_POINT_STATUS", kT0 + 1000));
}

TEST(ReportRateLimit, KeysAreLimitedSeparately) {
  std::unordered_map<std::string, int64_t> last;
  EXPECT_TRUE(admitReport(last, "LOCALIZATION_DEGRADED_STATUS", kT0));
  EXPECT_TRUE(admitReport(last, "LOCALIZATION_LOST_STATUS", kT0 + 1));
}

TEST(ReportRateLimit, ClockSetBackDoesNotSilenceAKind) {
  std::unordered_map<std::string, int64_t> last;
  ASSERT_TRUE(admitReport(last, "FRONT_2D_LIDAR_STATUS", kT0));
  EXPECT_TRUE(admitReport(last, "FRONT_2D_LIDAR_STATUS", kT0 - 3'600'000));
  EXPECT_FALSE(admitReport(last, "FRONT_2D_LIDAR_STATUS", kT0 - 3'600'000 + 500));
}

class Localization : public ::testing::Test {
 protected:
  LocalizationDecision report(int status, int64_t at_ms) {
    return decideLocalization(state_, status, at_ms);
  }
  /// Reports status 0 every 100 ms until the loss is confirmed at kT0 + 1000.
  void loseLocalization() {
    for (int64_t t = kT0; t < kT0 + 1000; t += 100) {
      ASSERT_FALSE(report(0, t).publish) << "at +" << t - kT0;
    }
    ASSERT_TRUE(report(0, kT0 + 1000).publish);
  }

  LocalizationLossState state_;
};

TEST_F(Localization, LossIsPublishedOnceAfterASecond) {
  loseLocalization();
  EXPECT_EQ(state_.state, 1);
  for (int64_t t = kT0 + 1100; t < kT0 + 3000; t += 100) {
    EXPECT_FALSE(report(0, t).publish) << "a confirmed loss is published once";
  }
}

TEST_F(Localization, LossDecisionCarriesItsText) {
  report(0, kT0);
  const LocalizationDecision decision = report(0, kT0 + 1000);
  EXPECT_EQ(decision.new_state, 1);
  EXPECT_STREQ(decision.text, "LOCALIZATION LOST");
}

TEST_F(Localization, NormalStatusClearsTheLossWait) {
  report(0, kT0);
  report(1, kT0 + 500);
  EXPECT_FALSE(report(0, kT0 + 1200).publish) << "the wait starts again here";
  EXPECT_FALSE(report(0, kT0 + 2100).publish);
  EXPECT_TRUE(report(0, kT0 + 2200).publish);
}

TEST_F(Localization, StatusTwoRecoversAfterHalfASecond) {
  loseLocalization();
  EXPECT_FALSE(report(2, kT0 + 1100).publish);
  for (int64_t t = kT0 + 1200; t < kT0 + 1600; t += 100) {
    EXPECT_FALSE(report(2, t).publish) << "at +" << t - kT0;
  }
  const LocalizationDecision recovered = report(2, kT0 + 1600);
  EXPECT_TRUE(recovered.publish);
  EXPECT_EQ(recovered.new_state, 0);
  EXPECT_STREQ(recovered.text, "LOCALIZATION RECOVERY");
}

TEST_F(Localization, StatusOneRecoversAtOnce) {
  loseLocalization();
  const LocalizationDecision recovered = report(1, kT0 + 1100);
  EXPECT_TRUE(recovered.publish);
  EXPECT_EQ(recovered.new_state, 0);
  EXPECT_STREQ(recovered.text, "LOCALIZATION NORMAL");
  EXPECT_FALSE(state_.loss_pending);
}

TEST_F(Localization, NegativeStatusCountsAsNormal) {
  loseLocalization();
  EXPECT_TRUE(report(-3, kT0 + 1100).publish);
  EXPECT_EQ(state_.state, 0);
}

TEST_F(Localization, LossReportEndsARecoveryWait) {
  loseLocalization();
  report(2, kT0 + 1100);
  report(0, kT0 + 1300);
  EXPECT_FALSE(state_.recovery_pending);
  EXPECT_FALSE(report(2, kT0 + 1700).publish) << "a new recovery wait starts here";
  EXPECT_FALSE(report(2, kT0 + 2100).publish);
  EXPECT_TRUE(report(2, kT0 + 2200).publish);
}

TEST_F(Localization, StatusTwoWhileNormalIsJustNormal) {
  report(0, kT0);
  const LocalizationDecision decision = report(2, kT0 + 100);
  EXPECT_FALSE(decision.publish);
  EXPECT_FALSE(state_.loss_pending) << "status 2 while normal clears a pending loss";
}

}  // namespace
