#include <gtest/gtest.h>

#include <cstdint>

#include "stream_checks.hpp"

namespace {

using kelvane_rovimar_diagnosis::CheckDecision;
using kelvane_rovimar_diagnosis::decideFrameRate;
using kelvane_rovimar_diagnosis::decideStreamTimeout;
using kelvane_rovimar_diagnosis::frameRateHz;
using kelvane_rovimar_diagnosis::FrameRateState;
using kelvane_rovimar_diagnosis::SensorState;
using kelvane_rovimar_diagnosis::StreamState;

constexpr int64_t kT0 = 1'700'000'000'000;  // an arbitrary wall-clock time, ms

SensorThreshold thresholds() {
  SensorThreshold threshold;
  threshold.normal_hz = 10.0F;
  threshold.low_ratio = 0.5F;  // low below 5 Hz
  threshold.cutoff_timeout_ms = 500;
  threshold.cutoff_recovery_threshold = 3;
  threshold.abnormal_duration_ms = 1000;
  threshold.fps_recovery_threshold = 8.0F;
  threshold.fps_recovery_duration_ms = 2000;
  return threshold;
}

/// A stream past its initial phase whose last message arrived at `last_ms`.
SensorState liveStream(int64_t last_ms) {
  SensorState state;
  state.last_receive_ms = last_ms;
  return state;
}

class StreamTimeout : public ::testing::Test {
 protected:
  /// Times the stream out at kT0 + 1000 and checks that it did.
  void timeOut() {
    const CheckDecision decision = decideStreamTimeout(state_, threshold_, kT0 + 1000);
    ASSERT_TRUE(decision.publish);
    ASSERT_EQ(state_.stream_state, StreamState::TIMEOUT);
  }
  /// A cycle at `now_ms` right after a message arrived.
  CheckDecision cycleWithFreshMessage(int64_t now_ms) {
    state_.last_receive_ms = now_ms;
    return decideStreamTimeout(state_, threshold_, now_ms);
  }

  SensorThreshold threshold_ = thresholds();
  SensorState state_ = liveStream(kT0);
};

TEST_F(StreamTimeout, UnarmedTopicIsArmedIntoItsInitialPhaseSilently) {
  SensorState state;
  const CheckDecision decision = decideStreamTimeout(state, threshold_, kT0);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state.last_receive_ms, kT0);
  EXPECT_TRUE(state.initializing);
}

TEST_F(StreamTimeout, InitialPhaseGetsFifteenSecondsWhateverTheCutoff) {
  SensorState state;
  decideStreamTimeout(state, threshold_, kT0);

  const CheckDecision at_grace = decideStreamTimeout(state, threshold_, kT0 + 15000);
  EXPECT_FALSE(at_grace.publish) << "exactly 15000 ms is still within the grace";
  EXPECT_STREQ(at_grace.text, "NOT INITIALIZED");

  const CheckDecision past_grace = decideStreamTimeout(state, threshold_, kT0 + 15001);
  EXPECT_TRUE(past_grace.publish);
  EXPECT_TRUE(past_grace.initial_timeout);
  EXPECT_EQ(past_grace.new_state, 1);
  EXPECT_STREQ(past_grace.text, "STREAM TIMEOUT");
  EXPECT_EQ(past_grace.elapsed_ms, 15001);
  EXPECT_FALSE(state.initializing);
}

TEST_F(StreamTimeout, SilenceEqualToTheCutoffIsNotATimeout) {
  const CheckDecision at_cutoff = decideStreamTimeout(state_, threshold_, kT0 + 500);
  EXPECT_FALSE(at_cutoff.publish);
  EXPECT_STREQ(at_cutoff.text, "STREAM NORMAL");

  const CheckDecision past_cutoff = decideStreamTimeout(state_, threshold_, kT0 + 501);
  EXPECT_TRUE(past_cutoff.publish);
  EXPECT_FALSE(past_cutoff.initial_timeout);
  EXPECT_EQ(past_cutoff.new_state, 1);
  EXPECT_STREQ(past_cutoff.text, "STREAM TIMEOUT");
  EXPECT_EQ(past_cutoff.elapsed_ms, 501);
}

TEST_F(StreamTimeout, StaysTimedOutWithoutRepeatingTheEvent) {
  timeOut();
  const CheckDecision again = decideStreamTimeout(state_, threshold_, kT0 + 5000);
  EXPECT_FALSE(again.publish);
  EXPECT_EQ(again.new_state, 1);
}

TEST_F(StreamTimeout, RecoversOnTheCycleAfterTheRecoveryThreshold) {
  timeOut();
  for (int cycle = 1; cycle <= 3; ++cycle) {
    const CheckDecision recovering = cycleWithFreshMessage(kT0 + 1000 + cycle * 100);
    EXPECT_FALSE(recovering.publish) << "cycle " << cycle;
    EXPECT_STREQ(recovering.text, "STREAM RECOVERING");
  }
  const CheckDecision recovered = cycleWithFreshMessage(kT0 + 1400);
  EXPECT_TRUE(recovered.publish);
  EXPECT_TRUE(recovered.recovered);
  EXPECT_EQ(recovered.new_state, 0);
  EXPECT_STREQ(recovered.text, "STREAM RECOVERY");
  EXPECT_EQ(state_.timeout_recovery_count, 0);
}

TEST_F(StreamTimeout, TimeoutDuringRecoveryRestartsTheCount) {
  timeOut();
  cycleWithFreshMessage(kT0 + 1100);
  cycleWithFreshMessage(kT0 + 1200);
  EXPECT_FALSE(decideStreamTimeout(state_, threshold_, kT0 + 1800).publish);
  EXPECT_EQ(state_.timeout_recovery_count, 0);
  for (int cycle = 1; cycle <= 3; ++cycle) {
    EXPECT_FALSE(cycleWithFreshMessage(kT0 + 1800 + cycle * 100).publish) << "cycle " << cycle;
  }
  EXPECT_TRUE(cycleWithFreshMessage(kT0 + 2200).recovered);
}

TEST_F(StreamTimeout, SuspensionResetsATimedOutTopicSilently) {
  timeOut();
  state_.reported_status = 1;
  const CheckDecision decision = decideStreamTimeout(state_, threshold_, kT0 + 2000);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state_.stream_state, StreamState::NORMAL);
  EXPECT_EQ(state_.last_receive_ms, 0) << "the topic is re-armed when it is resumed";
  EXPECT_FALSE(state_.initializing);
}

TEST_F(StreamTimeout, OtherStatusValuesLeaveTheTopicAlone) {
  state_.reported_status = 2;
  state_.timeout_recovery_count = 2;
  const CheckDecision decision = decideStreamTimeout(state_, threshold_, kT0 + 60000);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state_.last_receive_ms, kT0);
  EXPECT_EQ(state_.stream_state, StreamState::NORMAL);
  EXPECT_EQ(state_.timeout_recovery_count, 2);
}

TEST_F(StreamTimeout, ClockSetBackCountsAsNoTimeout) {
  const CheckDecision decision = decideStreamTimeout(state_, threshold_, kT0 - 60000);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state_.stream_state, StreamState::NORMAL);
}

TEST(FrameRateMeasure, CountsIntervalsOverTheSpan) {
  std::deque<int64_t> ten_hz;
  for (int64_t index = 0; index <= 10; ++index) {
    ten_hz.push_back(kT0 + index * 100);
  }
  EXPECT_FLOAT_EQ(frameRateHz(ten_hz), 10.0F);
  EXPECT_FLOAT_EQ(frameRateHz({kT0}), 0.0F) << "one entry has no interval";
  EXPECT_FLOAT_EQ(frameRateHz({kT0, kT0, kT0}), 0.0F) << "entries at one time have no span";
  EXPECT_FLOAT_EQ(frameRateHz({}), 0.0F);
}

class FrameRate : public ::testing::Test {
 protected:
  /// Appends messages every `period_ms` from `from_ms` up to and including `to_ms`.
  void receive(int64_t from_ms, int64_t to_ms, int64_t period_ms) {
    for (int64_t time = from_ms; time <= to_ms; time += period_ms) {
      state_.receive_times_ms.push_back(time);
    }
  }
  CheckDecision check(int64_t now_ms) { return decideFrameRate(state_, threshold_, now_ms); }

  /// Makes the stream abnormal at kT0 + 1101 with a 2 Hz rate.
  void becomeAbnormal() {
    receive(kT0 - 1000, kT0, 500);
    ASSERT_FALSE(check(kT0).publish);
    receive(kT0 + 500, kT0 + 1000, 500);
    const CheckDecision decision = check(kT0 + 1001);
    ASSERT_TRUE(decision.publish);
    ASSERT_EQ(state_.frame_rate_state, FrameRateState::ABNORMAL);
  }

  SensorThreshold threshold_ = thresholds();
  SensorState state_;
};

TEST_F(FrameRate, SteadyStreamAtItsNominalRateStaysNormalSilently) {
  receive(kT0, kT0 + 1000, 100);
  const CheckDecision decision = check(kT0 + 1000);
  EXPECT_FALSE(decision.publish);
  EXPECT_STREQ(decision.text, "FRAME RATE NORMAL");
  EXPECT_EQ(state_.abnormal_start_ms, 0);
}

TEST_F(FrameRate, RateEqualToTheLowLimitIsNotLow) {
  receive(kT0, kT0 + 400, 200);  // 2 intervals over 400 ms: exactly 5 Hz
  check(kT0 + 400);
  EXPECT_EQ(state_.abnormal_start_ms, 0);
}

TEST_F(FrameRate, LowRateBecomesAbnormalOnlyAfterItsDuration) {
  receive(kT0 - 1000, kT0, 500);  // 2 Hz
  EXPECT_FALSE(check(kT0).publish);
  EXPECT_EQ(state_.abnormal_start_ms, kT0);

  receive(kT0 + 500, kT0 + 1000, 500);
  const CheckDecision at_duration = check(kT0 + 1000);
  EXPECT_FALSE(at_duration.publish) << "a low time equal to the duration is not yet abnormal";

  const CheckDecision past_duration = check(kT0 + 1001);
  EXPECT_TRUE(past_duration.publish);
  EXPECT_EQ(past_duration.new_state, 1);
  EXPECT_STREQ(past_duration.text, "FRAME RATE ABNORMAL");
  EXPECT_EQ(past_duration.elapsed_ms, 1001);
}

TEST_F(FrameRate, RecoversAfterHoldingTheRecoveryRateForItsDuration) {
  becomeAbnormal();
  receive(kT0 + 1125, kT0 + 2000, 125);  // 8 Hz, exactly the recovery threshold
  EXPECT_FALSE(check(kT0 + 2000).publish) << "the recovery wait starts";
  EXPECT_EQ(state_.recovery_start_ms, kT0 + 2000);

  receive(kT0 + 2125, kT0 + 4000, 125);
  EXPECT_FALSE(check(kT0 + 3999).publish) << "1999 ms of the 2000 ms wait";
  const CheckDecision recovered = check(kT0 + 4000);
  EXPECT_TRUE(recovered.publish);
  EXPECT_TRUE(recovered.recovered);
  EXPECT_EQ(recovered.new_state, 0);
  EXPECT_STREQ(recovered.text, "FRAME RATE RECOVERY");
  EXPECT_EQ(state_.abnormal_start_ms, 0);
  EXPECT_FALSE(state_.recovering);
}

TEST_F(FrameRate, OneCycleBelowTheRecoveryRateRestartsTheWait) {
  becomeAbnormal();
  receive(kT0 + 1100, kT0 + 2000, 100);  // 10 Hz
  check(kT0 + 2000);
  ASSERT_TRUE(state_.recovering);

  state_.receive_times_ms.clear();
  receive(kT0 + 1500, kT0 + 2400, 150);  // 6.7 Hz: above the 5 Hz low limit, below 8 Hz
  EXPECT_FALSE(check(kT0 + 2400).publish);
  EXPECT_FALSE(state_.recovering);
}

TEST_F(FrameRate, DropBelowTheLowLimitAlsoRestartsTheRecoveryWait) {
  becomeAbnormal();
  receive(kT0 + 1100, kT0 + 2000, 100);
  check(kT0 + 2000);
  ASSERT_TRUE(state_.recovering);

  state_.receive_times_ms = {kT0 + 2500, kT0 + 3000};  // 2 Hz
  check(kT0 + 3000);
  EXPECT_FALSE(state_.recovering);

  receive(kT0 + 3100, kT0 + 4000, 100);
  EXPECT_FALSE(check(kT0 + 4000).publish)
      << "the wait must count from the rate's return, not from before the drop";
}

TEST_F(FrameRate, StoppedStreamKeepsItsRateUntilItsEntriesAgeOut) {
  receive(kT0, kT0 + 1000, 100);
  check(kT0 + 1000);
  check(kT0 + 1500);
  EXPECT_EQ(state_.receive_times_ms.size(), 7u) << "entries older than 1100 ms are dropped";
  EXPECT_FLOAT_EQ(frameRateHz(state_.receive_times_ms), 10.0F);
  EXPECT_EQ(state_.abnormal_start_ms, 0);

  check(kT0 + 2050);
  EXPECT_EQ(state_.receive_times_ms.size(), 1u);
  EXPECT_EQ(state_.abnormal_start_ms, kT0 + 2050) << "one entry left: the rate is 0";

  check(kT0 + 2101);
  const CheckDecision empty = check(kT0 + 2200);
  EXPECT_TRUE(state_.receive_times_ms.empty());
  EXPECT_FALSE(empty.publish);
  EXPECT_EQ(state_.abnormal_start_ms, 0) << "an empty window clears the low time";
}

TEST_F(FrameRate, EmptyWindowKeepsAnAbnormalStreamAbnormalSilently) {
  becomeAbnormal();
  state_.receive_times_ms.clear();
  const CheckDecision decision = check(kT0 + 5000);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state_.frame_rate_state, FrameRateState::ABNORMAL);
}

TEST_F(FrameRate, SuspensionResetsAnAbnormalStreamSilently) {
  becomeAbnormal();
  state_.reported_status = 1;
  const CheckDecision decision = check(kT0 + 1100);
  EXPECT_FALSE(decision.publish);
  EXPECT_EQ(state_.frame_rate_state, FrameRateState::NORMAL);
  EXPECT_TRUE(state_.receive_times_ms.empty());
  EXPECT_EQ(state_.abnormal_start_ms, 0);
}

TEST_F(FrameRate, OtherStatusValuesLeaveTheStreamAlone) {
  receive(kT0 - 3000, kT0, 1000);
  state_.reported_status = -1;
  check(kT0 + 5000);
  EXPECT_EQ(state_.receive_times_ms.size(), 4u);
  EXPECT_EQ(state_.abnormal_start_ms, 0);
}

TEST(EventCodes, UltrasonicThreeAndFourTakeTheirSwappedCodes) {
  using kelvane_rovimar_diagnosis::frameRateEventCode;
  using kelvane_rovimar_diagnosis::timeoutEventCode;
  EXPECT_EQ(timeoutEventCode("/kelvane_ultrasonic/original_ultrasonic_3"), 8007);
  EXPECT_EQ(timeoutEventCode("/kelvane_ultrasonic/original_ultrasonic_4"), 8006);
  EXPECT_EQ(frameRateEventCode("/kelvane_ultrasonic/original_ultrasonic_3"), 8017);
  EXPECT_EQ(frameRateEventCode("/kelvane_ultrasonic/original_ultrasonic_4"), 8019);
  EXPECT_EQ(timeoutEventCode("/imu/data"), std::nullopt) << "IMU has no timeout code";
  EXPECT_EQ(frameRateEventCode("/imu/data"), 8020);
  EXPECT_EQ(frameRateEventCode("scan_3"), std::nullopt);
}

}  // namespace
