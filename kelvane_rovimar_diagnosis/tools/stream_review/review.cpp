#include "review.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "message_headers.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNsPerUs = 1'000;
// Ages are counted in microseconds; below 2^11 each has its own bucket.
constexpr int kSubBucketBits = 10;
constexpr uint64_t kExactBelowUs = uint64_t{1} << (kSubBucketBits + 1);
// The picture draws a stream's rate in at most this many bins.
constexpr size_t kMostBins = 1024;
// Checks count times from here: a record's time 0 means "none".
constexpr int64_t kCheckOriginMs = 1;

int32_t bucketOf(uint64_t magnitude_us) {
  if (magnitude_us < kExactBelowUs) {
    return static_cast<int32_t>(magnitude_us);
  }
  const int shift = 63 - __builtin_clzll(magnitude_us) - kSubBucketBits;
  return static_cast<int32_t>(kExactBelowUs + (static_cast<uint64_t>(shift - 1) << kSubBucketBits) +
                              ((magnitude_us >> shift) - (uint64_t{1} << kSubBucketBits)));
}

/// The middle magnitude of a bucket, us.
uint64_t middleOf(int32_t bucket) {
  const auto index = static_cast<uint64_t>(bucket);
  if (index < kExactBelowUs) {
    return index;
  }
  const uint64_t above = index - kExactBelowUs;
  const int shift = static_cast<int>(above >> kSubBucketBits) + 1;
  const uint64_t lowest =
      ((uint64_t{1} << kSubBucketBits) + (above & ((uint64_t{1} << kSubBucketBits) - 1))) << shift;
  return lowest + (uint64_t{1} << shift) / 2;
}

/// Adds an open span's time up to `end_ns` to `total_ns` and closes it.
void closeSpan(std::optional<int64_t>& since_ns, int64_t& total_ns, int64_t end_ns) {
  if (since_ns) {
    total_ns += end_ns - *since_ns;
    since_ns.reset();
  }
}

/// Counts the silence of `stream` that ends at `t_ns`: since its last
/// message, or since the recording's start before its first.
void countGapUntil(ReviewedStream& stream, int64_t start_ns, int64_t t_ns) {
  const int64_t gap_start = stream.messages == 0 ? start_ns : stream.last_ns;
  const int64_t gap_ns = t_ns - gap_start;
  if (gap_ns > stream.longest_gap_ns) {
    stream.longest_gap_ns = gap_ns;
    stream.longest_gap_start_ns = gap_start;
  }
  stream.gaps_over_cutoff += gap_ns > stream.threshold.cutoff_timeout_ms * kNsPerMs ? 1 : 0;
}

int64_t stampNs(const std_msgs::msg::Header& header) {
  return int64_t{header.stamp.sec} * 1'000'000'000 + header.stamp.nanosec;
}

}  // namespace

void AgeHistogram::add(int64_t age_ns) {
  const int64_t age_us = age_ns / kNsPerUs;
  const uint64_t magnitude = age_us < 0 ? 0 - static_cast<uint64_t>(age_us) : age_us;
  const int32_t bucket = bucketOf(magnitude);
  ++buckets_[age_us < 0 ? -bucket - 1 : bucket];
  min_ns_ = count_ == 0 ? age_ns : std::min(min_ns_, age_ns);
  max_ns_ = count_ == 0 ? age_ns : std::max(max_ns_, age_ns);
  ++count_;
}

int64_t AgeHistogram::percentile(double quantile) const {
  const auto rank = std::max<uint64_t>(
      1, static_cast<uint64_t>(std::ceil(quantile * static_cast<double>(count_))));
  uint64_t seen = 0;
  for (const auto& [bucket, count] : buckets_) {
    seen += count;
    if (seen >= rank) {
      const bool negative = bucket < 0;
      const auto magnitude = static_cast<int64_t>(middleOf(negative ? -bucket - 1 : bucket));
      // A bucket's middle may lie beyond the ages in it.
      return std::clamp((negative ? -magnitude : magnitude) * kNsPerUs, min_ns_, max_ns_);
    }
  }
  return max_ns_;
}

size_t ReviewResult::abnormalEvents() const {
  return static_cast<size_t>(std::count_if(
      events.begin(), events.end(), [](const ReviewEvent& event) { return event.status != 0; }));
}

size_t ReviewResult::abnormalStreams() const {
  std::set<size_t> abnormal;
  for (const ReviewEvent& event : events) {
    if (event.status != 0) {
      abnormal.insert(event.stream);
    }
  }
  return abnormal.size();
}

RecordingReview::RecordingReview(const ThresholdTables& tables) {
  std::map<std::string, const NodeConfig*> nodes;
  for (const auto& [name, config] : tables.node_configs) {
    nodes.emplace(name, &config);
  }
  // The streams and the order the checks visit them in, as the library builds
  // them: topics in list order, a repeated one visited again.
  std::vector<std::pair<size_t, const std::string*>> visits;
  std::set<std::string> unjudged;
  for (const auto& entry : nodes) {
    const std::string& node = entry.first;
    for (const std::string& topic : entry.second->topics) {
      const auto threshold = tables.sensor_thresholds.find(topic);
      const SensorEventCodes codes = eventCodesOf(topic, tables.event_codes);
      if (threshold == tables.sensor_thresholds.end() ||
          (codes.timeout == 0 && codes.frame_rate == 0)) {
        if (unjudged.insert(topic).second) {
          unjudged_in_file_.push_back(
              {topic, threshold == tables.sensor_thresholds.end()
                          ? "listed without thresholds: the library refuses its reports"
                          : "no check has an event code for it"});
        }
        continue;
      }
      const auto same = std::find_if(
          result_.streams.begin(), result_.streams.end(),
          [&](const ReviewedStream& seen) { return seen.node == node && seen.topic == topic; });
      const auto index = static_cast<size_t>(same - result_.streams.begin());
      if (same == result_.streams.end()) {
        ReviewedStream stream;
        stream.node = node;
        stream.topic = topic;
        stream.threshold = threshold->second;
        stream.codes = codes;
        result_.streams.push_back(std::move(stream));
        streams_of_name_[graphName(topic)].push_back(index);
      }
      visits.emplace_back(index, &topic);
    }
  }
  states_.resize(result_.streams.size());
  for (const auto& [index, topic] : visits) {
    const ReviewedStream& stream = result_.streams[index];
    monitored_.push_back(
        {&states_[index], &stream.threshold, stream.codes.timeout, stream.codes.frame_rate});
  }
}

int64_t RecordingReview::checkMs(int64_t t_ns) const {
  return (t_ns - result_.start_ns) / kNsPerMs + kCheckOriginMs;
}

void RecordingReview::learnTopics(const std::vector<RecordedTopic>& topics,
                                  const std::function<void(const std::string&)>& warn) {
  while (routes_.size() < topics.size()) {
    const RecordedTopic& topic = topics[routes_.size()];
    Route route;
    const auto streams = streams_of_name_.find(topic.name);
    if (streams != streams_of_name_.end()) {
      route.streams = streams->second;
      auto known = header_of_type_.find(topic.type);
      if (known == header_of_type_.end()) {
        HeaderSupport support = headerSupportOf(topic.type);
        if (!support.error.empty()) {
          warn("type " + topic.type + " of " + topic.name + " has no type support here (" +
               support.error + "): its messages count as headerless, without an age");
        }
        known = header_of_type_.emplace(topic.type, support.has_header).first;
      }
      route.has_header = known->second && topic.serialization_format == "cdr";
      for (const size_t stream : route.streams) {
        result_.streams[stream].has_header = route.has_header;
      }
    }
    routes_.push_back(std::move(route));
  }
}

void RecordingReview::report(const RecordedMessage& message,
                             const std::vector<RecordedTopic>& topics,
                             const std::function<void(const std::string&)>& warn) {
  const int64_t t_ns = message.timestamp_ns;
  if (!started_) {
    started_ = true;
    result_.start_ns = t_ns;
    next_cycle_ns_ = t_ns;
  }
  // A message at a cycle's very time arrived before the cycle looked.
  runCyclesUntil(t_ns, false);
  ++result_.messages;
  result_.end_ns = t_ns;
  if (message.topic >= routes_.size()) {
    learnTopics(topics, warn);
  }
  const Route& route = routes_[message.topic];
  if (route.streams.empty()) {
    return;
  }
  const std::optional<std_msgs::msg::Header> header =
      route.has_header ? leadingHeader(message.data, message.size) : std::nullopt;
  const int64_t now_ms = checkMs(t_ns);
  for (const size_t index : route.streams) {
    ReviewedStream& stream = result_.streams[index];
    SensorState& state = states_[index];
    countGapUntil(stream, result_.start_ns, t_ns);
    if (stream.messages++ == 0) {
      stream.first_ns = t_ns;
    }
    stream.last_ns = t_ns;
    if (header) {
      state.last_header = *header;
      stream.ages.add(t_ns - stampNs(*header));
    }
    state.sender_stamped = header.has_value();
    recordArrival(state, now_ms, t_ns);
    countInBin(stream, t_ns);
  }
}

void RecordingReview::countInBin(ReviewedStream& stream, int64_t t_ns) {
  size_t bin = static_cast<size_t>((t_ns - result_.start_ns) / result_.bin_width_ns);
  while (bin >= kMostBins) {
    // Twice as wide for every stream, so that all keep one width.
    for (ReviewedStream& each : result_.streams) {
      for (size_t index = 0; index < each.counts.size(); ++index) {
        each.counts[index / 2] = (index % 2 == 0 ? 0 : each.counts[index / 2]) + each.counts[index];
      }
      each.counts.resize((each.counts.size() + 1) / 2);
    }
    result_.bin_width_ns *= 2;
    bin /= 2;
  }
  if (stream.counts.size() <= bin) {
    stream.counts.resize(bin + 1);
  }
  ++stream.counts[bin];
}

void RecordingReview::runCyclesUntil(int64_t t_ns, bool inclusive) {
  while (next_cycle_ns_ < t_ns || (inclusive && next_cycle_ns_ == t_ns)) {
    runCycle(next_cycle_ns_);
    next_cycle_ns_ += kCyclePeriodNs;
  }
}

void RecordingReview::runCycle(int64_t t_ns) {
  const int64_t now_ms = checkMs(t_ns);
  runMonitoringCycle(
      monitored_, pending_, [now_ms] { return now_ms; },
      [this, t_ns](const MonitoredStream& stream, const CheckDecision& decision) {
        publish(stream, true, decision, t_ns);
      },
      [this, t_ns](const MonitoredStream& stream, const CheckDecision& decision) {
        publish(stream, false, decision, t_ns);
      });
  for (size_t index = 0; index < result_.streams.size(); ++index) {
    ReviewedStream& stream = result_.streams[index];
    const SensorState& state = states_[index];
    // A window the stream has not filled yet says nothing of its rate.
    if (stream.codes.frame_rate != 0 && stream.messages > 0 &&
        now_ms - checkMs(stream.first_ns) >= kFrameRateWindowMs) {
      const float rate_hz = frameRateHz(state.receive_times_ms);
      stream.lowest_window_hz = std::min(stream.lowest_window_hz.value_or(rate_hz), rate_hz);
    }
  }
}

void RecordingReview::publish(const MonitoredStream& monitored, bool timeout,
                              const CheckDecision& decision, int64_t t_ns) {
  if (!decision.publish) {
    return;
  }
  const auto index = static_cast<size_t>(monitored.state - states_.data());
  ReviewedStream& stream = result_.streams[index];
  std::optional<int64_t>& since = timeout ? stream.timed_out_since_ns : stream.low_rate_since_ns;
  int64_t& total = timeout ? stream.timed_out_ns : stream.low_rate_ns;
  if (decision.new_state != 0) {
    since = t_ns;
  } else {
    closeSpan(since, total, t_ns);
  }
  result_.events.push_back({t_ns, timeout ? monitored.timeout_code : monitored.frame_rate_code,
                            decision.new_state, decision.text, index, timeout});
}

ReviewResult RecordingReview::finish(const std::vector<RecordedTopic>& topics) {
  runCyclesUntil(result_.end_ns, true);
  for (ReviewedStream& stream : result_.streams) {
    closeSpan(stream.timed_out_since_ns, stream.timed_out_ns, result_.end_ns);
    closeSpan(stream.low_rate_since_ns, stream.low_rate_ns, result_.end_ns);
    countGapUntil(stream, result_.start_ns, result_.end_ns);
  }
  result_.not_judged = unjudged_in_file_;
  for (size_t index = 0; index < topics.size(); ++index) {
    const bool listed = streams_of_name_.count(topics[index].name) > 0 ||
                        std::any_of(unjudged_in_file_.begin(), unjudged_in_file_.end(),
                                    [&](const UnjudgedTopic& unjudged) {
                                      return graphName(unjudged.topic) == topics[index].name;
                                    });
    if (!listed) {
      result_.not_judged.push_back(
          {topics[index].name, "not listed in the thresholds file (" + topics[index].type + ")"});
    }
  }
  return std::move(result_);
}

ReviewResult reviewRecording(RecordingReader& reader, const ThresholdTables& tables,
                             const std::function<void(const std::string&)>& warn,
                             const std::function<void(uint64_t)>& progress) {
  constexpr uint64_t kProgressEvery = 1024;
  RecordingReview review(tables);
  RecordedMessage message;
  uint64_t read = 0;
  while (reader.next(message)) {
    review.report(message, reader.topics(), warn);
    if (++read % kProgressEvery == 0) {
      progress(read);
    }
  }
  if (!review.started()) {
    throw RecordingError(reader.layout().path + ": holds no messages, so nothing can be judged");
  }
  ReviewResult result = review.finish(reader.topics());
  result.path = reader.layout().path;
  result.compression = reader.layout().compression;
  return result;
}

}  // namespace kelvane_rovimar_diagnosis
