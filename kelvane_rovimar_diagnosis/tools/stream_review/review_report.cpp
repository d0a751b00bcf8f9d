// The review as text for a person and as JSON for a pipeline: the same content.
#include <fmt/format.h>

#include <ctime>

#include "review.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr double kNsPerMs = 1e6;

double secondsBetween(int64_t from_ns, int64_t to_ns) {
  return static_cast<double>(to_ns - from_ns) / kNsPerSecond;
}

/// "14:03:22.417", the UTC time of day of a time on the recording's clock.
std::string timeOfDay(int64_t t_ns) {
  const int64_t ms = t_ns >= 0 ? t_ns / 1'000'000 : (t_ns - 999'999) / 1'000'000;
  const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  const auto clock = static_cast<time_t>(seconds);
  std::tm utc{};
  gmtime_r(&clock, &utc);
  return fmt::format("{:02}:{:02}:{:02}.{:03}", utc.tm_hour, utc.tm_min, utc.tm_sec,
                     ms - seconds * 1000);
}

double meanRateHz(const ReviewResult& result, const ReviewedStream& stream) {
  const double duration_s = secondsBetween(result.start_ns, result.end_ns);
  return duration_s > 0 ? static_cast<double>(stream.messages) / duration_s : 0.0;
}

std::string milliseconds(int64_t ns) {
  return fmt::format("{:.3f}", static_cast<double>(ns) / kNsPerMs);
}

/// The ages' p50, p99 and max, ms, as `format` places three numbers.
std::string ages(const AgeHistogram& histogram, const char* format) {
  return fmt::format(fmt::runtime(format),
                     static_cast<double>(histogram.percentile(0.5)) / kNsPerMs,
                     static_cast<double>(histogram.percentile(0.99)) / kNsPerMs,
                     static_cast<double>(histogram.max()) / kNsPerMs);
}

/// Columns padded to their widest cell: text to the left, numbers to the right.
void writeTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& right_aligned) {
  std::vector<size_t> widths(right_aligned.size());
  for (const auto& row : rows) {
    for (size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
  }
  for (const auto& row : rows) {
    std::string line = " ";
    for (size_t column = 0; column < row.size(); ++column) {
      const size_t padding = widths[column] - row[column].size();
      const bool last = column + 1 == row.size();
      line += " ";
      line += right_aligned[column] ? std::string(padding, ' ') + row[column]
                                    : row[column] + (last ? "" : std::string(padding, ' '));
    }
    out << line << "\n";
  }
}

std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char character : text) {
    const auto code = static_cast<unsigned char>(character);
    if (character == '"' || character == '\\') {
      quoted += '\\';
      quoted += character;
    } else if (code < 0x20) {
      quoted += fmt::format("\\u{:04x}", code);
    } else {
      quoted += character;
    }
  }
  return quoted + "\"";
}

}  // namespace

void writeReport(const ReviewResult& result, std::ostream& out) {
  out << "stream_review: " << result.path << ", " << result.messages << " messages over "
      << fmt::format("{:.3f}", secondsBetween(result.start_ns, result.end_ns)) << " s from "
      << timeOfDay(result.start_ns) << " UTC\n\n";
  if (result.events.empty()) {
    out << "events: none\n";
  } else {
    out << "events:\n";
    std::vector<std::vector<std::string>> rows = {
        {"t (s)", "UTC", "code", "status", "text", "node", "topic"}};
    for (const ReviewEvent& event : result.events) {
      const ReviewedStream& stream = result.streams[event.stream];
      rows.push_back({fmt::format("{:.3f}", secondsBetween(result.start_ns, event.t_ns)),
                      timeOfDay(event.t_ns), std::to_string(event.code),
                      std::to_string(event.status), event.text, stream.node, stream.topic});
    }
    writeTable(out, rows, {true, false, true, true, false, false, false});
  }
  out << "\nstreams:\n";
  std::vector<std::vector<std::string>> rows = {
      {"node", "topic", "messages", "rate/nominal Hz", "lowest Hz", "longest gap s", "at s",
       "gaps>cutoff", "timed out s", "low rate s", "age p50/p99/max ms"}};
  for (const ReviewedStream& stream : result.streams) {
    rows.push_back(
        {stream.node, stream.topic, std::to_string(stream.messages),
         fmt::format("{:.2f}/{:.2f}", meanRateHz(result, stream), stream.threshold.normal_hz),
         stream.lowest_window_hz ? fmt::format("{:.2f}", *stream.lowest_window_hz) : "-",
         fmt::format("{:.3f}", static_cast<double>(stream.longest_gap_ns) / kNsPerSecond),
         fmt::format("{:.3f}", secondsBetween(result.start_ns, stream.longest_gap_start_ns)),
         std::to_string(stream.gaps_over_cutoff),
         fmt::format("{:.1f}", static_cast<double>(stream.timed_out_ns) / kNsPerSecond),
         fmt::format("{:.1f}", static_cast<double>(stream.low_rate_ns) / kNsPerSecond),
         stream.ages.empty() ? "-" : ages(stream.ages, "{:.2f}/{:.2f}/{:.2f}")});
  }
  if (result.streams.empty()) {
    out << "  none: the thresholds file lists no stream that the checks judge\n";
  } else {
    writeTable(out, rows, {false, false, true, true, true, true, true, true, true, true, true});
  }
  for (const UnjudgedTopic& topic : result.not_judged) {
    out << "not judged: " << topic.topic << ": " << topic.reason << "\n";
  }
  out << "\n";
  if (result.abnormalEvents() == 0) {
    out << "stream_review: clean\n";
  } else {
    out << "stream_review: " << result.abnormalEvents() << " abnormal events on "
        << result.abnormalStreams() << " streams\n";
  }
}

void writeJson(const ReviewResult& result, std::ostream& out) {
  out << "{\"recording\": {\"path\": " << jsonString(result.path)
      << ", \"storage\": \"sqlite3\", \"compression\": "
      << jsonString(compressionName(result.compression)) << ", \"start_ns\": " << result.start_ns
      << ", \"end_ns\": " << result.end_ns << ", \"messages\": " << result.messages << "},\n";
  out << " \"events\": [";
  const char* separator = "\n  ";
  for (const ReviewEvent& event : result.events) {
    const ReviewedStream& stream = result.streams[event.stream];
    out << separator
        << fmt::format(
               "{{\"t_ns\": {}, \"offset_s\": {:.3f}, \"code\": {}, \"status\": {}, \"text\": {}, "
               "\"node\": {}, \"topic\": {}}}",
               event.t_ns, secondsBetween(result.start_ns, event.t_ns), event.code, event.status,
               jsonString(event.text), jsonString(stream.node), jsonString(stream.topic));
    separator = ",\n  ";
  }
  out << "],\n \"streams\": [";
  separator = "\n  ";
  for (const ReviewedStream& stream : result.streams) {
    const std::string age =
        stream.ages.empty()
            ? "null"
            : ages(stream.ages, "{{\"p50\": {:.2f}, \"p99\": {:.2f}, \"max\": {:.2f}}}");
    out << separator
        << fmt::format(
               "{{\"node\": {}, \"topic\": {}, \"messages\": {}, \"rate_hz\": {:.3f}, "
               "\"nominal_hz\": {:.3f}, \"lowest_window_hz\": {}, \"longest_gap_ms\": {}, "
               "\"longest_gap_at_s\": {:.3f}, \"gaps_over_cutoff\": {}, \"timed_out_s\": {:.3f}, "
               "\"low_rate_s\": {:.3f}, \"age_ms\": {}}}",
               jsonString(stream.node), jsonString(stream.topic), stream.messages,
               meanRateHz(result, stream), stream.threshold.normal_hz,
               stream.lowest_window_hz ? fmt::format("{:.3f}", *stream.lowest_window_hz) : "null",
               milliseconds(stream.longest_gap_ns),
               secondsBetween(result.start_ns, stream.longest_gap_start_ns),
               stream.gaps_over_cutoff, static_cast<double>(stream.timed_out_ns) / kNsPerSecond,
               static_cast<double>(stream.low_rate_ns) / kNsPerSecond, age);
    separator = ",\n  ";
  }
  out << "],\n \"not_judged\": [";
  separator = "";
  for (const UnjudgedTopic& topic : result.not_judged) {
    out << separator << jsonString(topic.topic);
    separator = ", ";
  }
  out << "],\n \"verdict\": " << (result.abnormalEvents() == 0 ? "\"clean\"" : "\"abnormal\"")
      << "}\n";
}

}  // namespace kelvane_rovimar_diagnosis
