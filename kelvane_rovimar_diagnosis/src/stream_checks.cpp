#include "stream_checks.hpp"

#include <string_view>

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr int32_t kSuspended = 1;
constexpr int32_t kMonitored = 0;
// The fourth message after a topic is armed ends its initial phase.
constexpr int32_t kInitialPhaseMessages = 3;

bool leftAlone(int32_t reported_status) {
  return reported_status != kMonitored && reported_status != kSuspended;
}

void clearRecoveryWait(SensorState& state) { state.recovery_start_ms.reset(); }

struct TopicCode {
  std::string_view topic;
  int32_t code;
};

// Constant tables: the monitoring thread reads them while a program ends, and
// a table with a destructor may already be gone by then.
constexpr TopicCode kTimeoutCodes[] = {
    {"scan_1", 8001},
    {"scan_2", 8002},
    {"/rslidar_points", 8003},
    {"/kelvane_ultrasonic/original_ultrasonic_1", 8004},
    {"/kelvane_ultrasonic/original_ultrasonic_2", 8005},
    {"/kelvane_ultrasonic/original_ultrasonic_3", 8007},
    {"/kelvane_ultrasonic/original_ultrasonic_4", 8006},
};

constexpr TopicCode kFrameRateCodes[] = {
    {"scan_1", 8008},
    {"scan_2", 8010},
    {"/rslidar_points", 8012},
    {"/kelvane_ultrasonic/original_ultrasonic_1", 8016},
    {"/kelvane_ultrasonic/original_ultrasonic_2", 8018},
    {"/kelvane_ultrasonic/original_ultrasonic_3", 8017},
    {"/kelvane_ultrasonic/original_ultrasonic_4", 8019},
    {"/camera_02/depth/image_raw", 8013},
    {"/camera_01/color/image_raw", 8015},
    {"/camera_03/color/image_raw", 8014},
    {"/imu/data", 8020},
    {"/robot_base/wheel/odom", 8025},
};

template <size_t N>
std::optional<int32_t> codeOf(const TopicCode (&codes)[N], const std::string& topic) {
  for (const TopicCode& entry : codes) {
    if (entry.topic == topic) {
      return entry.code;
    }
  }
  return std::nullopt;
}

CheckDecision settle(int32_t previous_state, int32_t new_state, const char* text,
                     CheckDecision decision) {
  decision.new_state = new_state;
  decision.text = text;
  decision.publish = new_state != previous_state;
  return decision;
}

}  // namespace

void recordArrival(SensorState& state, int64_t now_ms, int64_t wall_ns) {
  state.last_receive_ms = now_ms;
  state.last_arrival_ms = now_ms;
  state.last_arrival_wall_ns = wall_ns;
  if (state.initializing && ++state.init_receive_count > kInitialPhaseMessages) {
    state.initializing = false;
  }
  state.receive_times_ms.push_back(now_ms);
}

CheckDecision decideStreamTimeout(SensorState& state, const SensorThreshold& threshold,
                                  int64_t now_ms) {
  CheckDecision decision;
  if (state.reported_status == kSuspended) {
    // Suspended: back to unarmed and normal, silently.
    state.last_receive_ms = 0;
    state.stream_state = StreamState::NORMAL;
    state.initializing = false;
    return decision;
  }
  if (leftAlone(state.reported_status)) {
    return decision;
  }
  if (state.last_receive_ms == 0) {
    state.last_receive_ms = now_ms;
    state.initializing = true;
    state.init_receive_count = 0;
    return decision;
  }

  const int32_t previous = static_cast<int32_t>(state.stream_state);
  const int64_t elapsed_ms = now_ms - state.last_receive_ms;
  decision.elapsed_ms = elapsed_ms;
  int32_t new_state = 0;
  const char* text = "STREAM NORMAL";
  if (state.initializing) {
    if (elapsed_ms <= kInitialGraceMs) {
      text = "NOT INITIALIZED";
    } else {
      text = "STREAM TIMEOUT";
      state.timeout_recovery_count = 0;
      state.initializing = false;
      decision.initial_timeout = true;
      new_state = 1;
    }
  } else if (elapsed_ms > threshold.cutoff_timeout_ms) {
    text = "STREAM TIMEOUT";
    state.timeout_recovery_count = 0;
    new_state = 1;
  } else if (state.stream_state == StreamState::TIMEOUT) {
    if (state.timeout_recovery_count < threshold.cutoff_recovery_threshold) {
      ++state.timeout_recovery_count;
      text = "STREAM RECOVERING";
      new_state = 1;
    } else {
      text = "STREAM RECOVERY";
      decision.recovered = true;
    }
  }
  state.stream_state = static_cast<StreamState>(new_state);
  return settle(previous, new_state, text, decision);
}

CheckDecision decideFrameRate(SensorState& state, const SensorThreshold& threshold,
                              int64_t now_ms) {
  CheckDecision decision;
  if (state.reported_status == kSuspended) {
    // Suspended: the rate starts again from an empty window, silently.
    state.receive_times_ms.clear();
    state.abnormal_start_ms = 0;
    state.frame_rate_state = FrameRateState::NORMAL;
    clearRecoveryWait(state);
    return decision;
  }
  if (leftAlone(state.reported_status)) {
    return decision;
  }
  const int32_t previous = static_cast<int32_t>(state.frame_rate_state);
  if (state.receive_times_ms.empty()) {
    // No message within the window: the rate is nil, so no recovery wait can run either.
    state.abnormal_start_ms = 0;
    clearRecoveryWait(state);
    return settle(previous, previous, "", decision);
  }

  auto& times = state.receive_times_ms;
  while (!times.empty() && now_ms - times.front() > kFrameRateWindowMs) {
    times.pop_front();
  }
  const float rate_hz = frameRateHz(times);
  const float low_limit_hz = threshold.normal_hz * threshold.low_ratio;

  if (rate_hz < low_limit_hz) {
    if (rate_hz < threshold.fps_recovery_threshold) {
      clearRecoveryWait(state);
    }
    if (state.abnormal_start_ms == 0) {
      state.abnormal_start_ms = now_ms;
    }
    decision.elapsed_ms = now_ms - state.abnormal_start_ms;
    if (decision.elapsed_ms > threshold.abnormal_duration_ms) {
      state.frame_rate_state = FrameRateState::ABNORMAL;
      return settle(previous, 1, "FRAME RATE ABNORMAL", decision);
    }
    return settle(previous, previous, "", decision);
  }

  if (state.frame_rate_state != FrameRateState::ABNORMAL) {
    state.abnormal_start_ms = 0;
    return settle(previous, 0, "FRAME RATE NORMAL", decision);
  }

  if (rate_hz >= threshold.fps_recovery_threshold) {
    if (!state.recovery_start_ms) {
      state.recovery_start_ms = now_ms;
    }
    if (now_ms - *state.recovery_start_ms < threshold.fps_recovery_duration_ms) {
      return settle(previous, 1, "FRAME RATE ABNORMAL", decision);
    }
    state.abnormal_start_ms = 0;
    clearRecoveryWait(state);
    state.frame_rate_state = FrameRateState::NORMAL;
    decision.recovered = true;
    return settle(previous, 0, "FRAME RATE RECOVERY", decision);
  }
  clearRecoveryWait(state);
  return settle(previous, 1, "FRAME RATE ABNORMAL", decision);
}

float frameRateHz(const ArrivalWindow& receive_times_ms) {
  if (receive_times_ms.size() < 2) {
    return 0.0F;
  }
  const int64_t span_ms = receive_times_ms.back() - receive_times_ms.front();
  if (span_ms <= 0) {
    return 0.0F;
  }
  return static_cast<float>(receive_times_ms.size() - 1) * 1000.0F / static_cast<float>(span_ms);
}

std::optional<int32_t> timeoutEventCode(const std::string& topic) {
  return codeOf(kTimeoutCodes, topic);
}

std::optional<int32_t> frameRateEventCode(const std::string& topic) {
  return codeOf(kFrameRateCodes, topic);
}

SensorEventCodes eventCodesOf(const std::string& topic,
                              const std::unordered_map<std::string, SensorEventCodes>& file_codes) {
  SensorEventCodes codes;
  const auto given = file_codes.find(topic);
  if (given != file_codes.end()) {
    codes = given->second;
  }
  if (codes.timeout == 0) {
    codes.timeout = timeoutEventCode(topic).value_or(0);
  }
  if (codes.frame_rate == 0) {
    codes.frame_rate = frameRateEventCode(topic).value_or(0);
  }
  return codes;
}

}  // namespace kelvane_rovimar_diagnosis
