// A recording judged as the robot would have judged it live: every message of
// a listed topic is a report under each node that lists it, at its recorded
// timestamp, and a monitoring cycle runs every 100 ms of recording time, with
// the library's own checks. No clock but the recording's is read.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__REVIEW_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__REVIEW_HPP_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "recording.hpp"
#include "stream_checks.hpp"
#include "threshold_config.hpp"

namespace kelvane_rovimar_diagnosis {

/// The period of the monitoring cycle, in recording time.
inline constexpr int64_t kCyclePeriodNs = 100'000'000;

/// Message ages, kept as counts in buckets a 1024th of a power of two wide
/// (exact below 2048 us), so that a percentile is within 0.05% whatever the
/// number of messages, in little memory.
class AgeHistogram {
 public:
  void add(int64_t age_ns);
  bool empty() const { return count_ == 0; }
  /// The age below which the fraction `quantile` of the ages lie (its bucket's middle), ns.
  int64_t percentile(double quantile) const;
  int64_t max() const { return max_ns_; }

 private:
  std::map<int32_t, uint64_t> buckets_;
  uint64_t count_ = 0;
  int64_t min_ns_ = 0;
  int64_t max_ns_ = 0;
};

/// One published event, as the live library would have sent it.
struct ReviewEvent {
  int64_t t_ns;
  int32_t code;
  int32_t status;
  const char* text;
  /// Index into ReviewResult::streams.
  size_t stream;
  /// Of the timeout check; else of the frame-rate check.
  bool timeout;
};

/// One judged stream: a topic with thresholds and an event code, under a node that lists it.
struct ReviewedStream {
  std::string node;
  /// As the thresholds file spells it.
  std::string topic;
  SensorThreshold threshold;
  SensorEventCodes codes;
  /// Its recorded type begins with a header whose stamp gives the message age.
  bool has_header = false;
  uint64_t messages = 0;
  int64_t last_ns = 0;
  int64_t first_ns = 0;
  /// Counted from the recording's start and to its end too.
  int64_t longest_gap_ns = 0;
  int64_t longest_gap_start_ns = 0;
  uint64_t gaps_over_cutoff = 0;
  int64_t timed_out_ns = 0;
  int64_t low_rate_ns = 0;
  std::optional<int64_t> timed_out_since_ns;
  std::optional<int64_t> low_rate_since_ns;
  /// The lowest rate the frame-rate check measured over a full window.
  std::optional<float> lowest_window_hz;
  AgeHistogram ages;
  /// Messages per bin of ReviewResult::bin_width_ns, from the recording's start.
  std::vector<uint32_t> counts;
};

/// A topic of the file or the recording that is not judged, and why.
struct UnjudgedTopic {
  std::string topic;
  std::string reason;
};

struct ReviewResult {
  std::string path;
  Compression compression = Compression::NONE;
  int64_t start_ns = 0;
  int64_t end_ns = 0;
  uint64_t messages = 0;
  std::vector<ReviewEvent> events;
  /// By node name, then in the order the node lists its topics.
  std::vector<ReviewedStream> streams;
  std::vector<UnjudgedTopic> not_judged;
  int64_t bin_width_ns = kCyclePeriodNs;

  size_t abnormalEvents() const;
  size_t abnormalStreams() const;
};

/// The judgement of one recording, fed its messages in timestamp order.
class RecordingReview {
 public:
  /// Every node of `tables` counts as registered from the first message on,
  /// as the stream monitor registers them: a listed stream that never comes
  /// times out after its initial grace.
  explicit RecordingReview(const ThresholdTables& tables);

  /// `topics` holds the message's topic; `warn` hears, once per type, of a
  /// type whose type support cannot be loaded.
  void report(const RecordedMessage& message, const std::vector<RecordedTopic>& topics,
              const std::function<void(const std::string&)>& warn);

  bool started() const { return started_; }

  /// Runs the cycles up to the last message and closes every open span.
  ReviewResult finish(const std::vector<RecordedTopic>& topics);

 private:
  struct Route {
    std::vector<size_t> streams;
    bool has_header = false;
  };

  void learnTopics(const std::vector<RecordedTopic>& topics,
                   const std::function<void(const std::string&)>& warn);
  void runCyclesUntil(int64_t t_ns, bool inclusive);
  void runCycle(int64_t t_ns);
  /// Records the event of a decision that publishes, of the timeout check or the frame-rate one.
  void publish(const MonitoredStream& stream, bool timeout, const CheckDecision& decision,
               int64_t t_ns);
  void countInBin(ReviewedStream& stream, int64_t t_ns);
  /// Milliseconds as the checks take them: from the recording's start, never 0 ("none").
  int64_t checkMs(int64_t t_ns) const;

  ReviewResult result_;
  std::vector<SensorState> states_;  // one per entry of result_.streams
  std::vector<MonitoredStream> monitored_;
  FrameRateDecisions pending_;
  /// The streams of each graph name the file's topics have.
  std::unordered_map<std::string, std::vector<size_t>> streams_of_name_;
  std::vector<UnjudgedTopic> unjudged_in_file_;
  std::vector<Route> routes_;  // by recorded topic
  std::unordered_map<std::string, bool> header_of_type_;
  bool started_ = false;
  int64_t next_cycle_ns_ = 0;
};

/// Reads every message of `reader` into a review; `progress` hears, every
/// few thousand messages, how many were read. Throws RecordingError.
ReviewResult reviewRecording(RecordingReader& reader, const ThresholdTables& tables,
                             const std::function<void(const std::string&)>& warn,
                             const std::function<void(uint64_t)>& progress);

/// The events, the table of streams, what is not judged and the verdict line.
void writeReport(const ReviewResult& result, std::ostream& out);
/// The same as JSON, for pipelines.
void writeJson(const ReviewResult& result, std::ostream& out);
/// A picture of the streams' rates over time, their bad spans and events.
void writeSvg(const ReviewResult& result, std::ostream& out);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__REVIEW_HPP_
