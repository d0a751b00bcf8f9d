// The review as a picture: one row per stream, its rate over time against its
// nominal rate and low limit, its timed-out and low-rate spans shaded, each
// event marked, under a time axis in seconds and UTC time of day.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <ctime>

#include "review.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr double kWidth = 1400;
constexpr double kLabelWidth = 320;
constexpr double kRightMargin = 24;
constexpr double kPlotWidth = kWidth - kLabelWidth - kRightMargin;
constexpr double kTop = 78;
constexpr double kAxisHeight = 44;
constexpr double kRoomiestRow = 56;
constexpr double kNarrowestRow = 14;
// Rows at least this high name the node under the topic.
constexpr double kTwoLineRow = 30;
// A rate drawn over less than this would show single messages, not a rate.
constexpr int64_t kShortestDrawnBinNs = 1'000'000'000;
// Rows drawn at most; beyond them the picture says what it left out.
constexpr size_t kMostRows = 400;
// The rate axis of a row reaches this much over the nominal rate.
constexpr double kRateHeadroom = 1.5;

std::string escaped(const std::string& text) {
  std::string out;
  for (const char character : text) {
    switch (character) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += character;
    }
  }
  return out;
}

std::string clockOf(int64_t t_ns) {
  const auto clock = static_cast<time_t>(t_ns / 1'000'000'000);
  std::tm utc{};
  gmtime_r(&clock, &utc);
  return fmt::format("{:02}:{:02}:{:02}", utc.tm_hour, utc.tm_min, utc.tm_sec);
}

/// `text` shortened from the left to what a label of `font` pixels has room for.
std::string fitted(const std::string& text, double font) {
  const auto room = static_cast<size_t>((kLabelWidth - 16) / (font * 0.58));
  return text.size() <= room ? text : "..." + text.substr(text.size() - (room - 3));
}

/// A tick spacing, s, that gives the axis at most a dozen ticks.
double tickSpacing(double duration_s) {
  constexpr std::array<double, 16> kSteps = {0.1, 0.2, 0.5, 1,   2,   5,   10,   15,
                                             30,  60,  120, 300, 600, 900, 1800, 3600};
  for (const double step : kSteps) {
    if (duration_s / step <= 12) {
      return step;
    }
  }
  return 7200;
}

/// The streams to draw: all of them when they fit, else those with events first.
std::vector<size_t> drawnStreams(const ReviewResult& result) {
  std::vector<size_t> order(result.streams.size());
  for (size_t index = 0; index < order.size(); ++index) {
    order[index] = index;
  }
  if (order.size() > kMostRows) {
    std::vector<bool> eventful(order.size());
    for (const ReviewEvent& event : result.events) {
      eventful[event.stream] = true;
    }
    std::stable_partition(order.begin(), order.end(),
                          [&](size_t index) { return eventful[index]; });
    order.resize(kMostRows);
    std::sort(order.begin(), order.end());
  }
  return order;
}

}  // namespace

void writeSvg(const ReviewResult& result, std::ostream& out) {
  const std::vector<size_t> drawn = drawnStreams(result);
  const double row_height =
      std::clamp(kRoomiestRow * 24 / static_cast<double>(std::max<size_t>(drawn.size(), 24)),
                 kNarrowestRow, kRoomiestRow);
  const double plot_height = row_height * static_cast<double>(drawn.size());
  const size_t left_out = result.streams.size() - drawn.size();
  const size_t left_out_eventful =
      result.abnormalStreams() -
      static_cast<size_t>(std::count_if(drawn.begin(), drawn.end(), [&](size_t index) {
        return std::any_of(
            result.events.begin(), result.events.end(),
            [&](const ReviewEvent& event) { return event.stream == index && event.status != 0; });
      }));
  const double height = kTop + plot_height + kAxisHeight + (left_out > 0 ? 24 : 0) + 8;
  const double duration_s =
      std::max(1e-3, static_cast<double>(result.end_ns - result.start_ns) / 1e9);
  const auto x_of = [&](int64_t t_ns) {
    return kLabelWidth +
           kPlotWidth * (static_cast<double>(t_ns - result.start_ns) / 1e9) / duration_s;
  };
  const double font = std::min(12.0, row_height - 3);

  out << fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{:.0f}\" height=\"{:.0f}\" "
      "viewBox=\"0 0 {:.0f} {:.0f}\" font-family=\"sans-serif\">\n",
      kWidth, height, kWidth, height);
  out << fmt::format("<rect width=\"{:.0f}\" height=\"{:.0f}\" fill=\"white\"/>\n", kWidth, height);
  const size_t abnormal = result.abnormalEvents();
  out << fmt::format(
      "<text x=\"12\" y=\"24\" font-size=\"16\" font-weight=\"bold\">{}: {}</text>\n",
      escaped(result.path),
      abnormal == 0
          ? std::string("clean")
          : fmt::format("{} abnormal events on {} streams", abnormal, result.abnormalStreams()));
  out << fmt::format(
      "<text x=\"12\" y=\"44\" font-size=\"12\" fill=\"#444\">{} messages over {:.1f} s from {} "
      "UTC; each row: its rate (blue) against its nominal rate (grey) and low limit (orange "
      "dashes)</text>\n",
      result.messages, duration_s, clockOf(result.start_ns));
  out << "<g font-size=\"12\">"
         "<rect x=\"12\" y=\"54\" width=\"14\" height=\"12\" fill=\"#d62728\" opacity=\"0.25\"/>"
         "<text x=\"30\" y=\"64\">timed out</text>"
         "<rect x=\"110\" y=\"54\" width=\"14\" height=\"12\" fill=\"#ff7f0e\" opacity=\"0.3\"/>"
         "<text x=\"128\" y=\"64\">low rate</text>"
         "<path d=\"M210 55 l5 9 l5 -9 z\" fill=\"#d62728\"/><text x=\"226\" y=\"64\">abnormal "
         "event</text>"
         "<path d=\"M330 55 l5 9 l5 -9 z\" fill=\"#2ca02c\"/><text x=\"346\" y=\"64\">back to "
         "normal</text></g>\n";

  for (size_t row = 0; row < drawn.size(); ++row) {
    const ReviewedStream& stream = result.streams[drawn[row]];
    const double top = kTop + row_height * static_cast<double>(row);
    const double bottom = top + row_height - 2;
    const double scale_hz = std::max(1e-3, kRateHeadroom * stream.threshold.normal_hz);
    const auto y_of = [&](double rate_hz) {
      return bottom - (row_height - 4) * std::min(rate_hz, scale_hz) / scale_hz;
    };
    out << fmt::format("<g><title>{} {}</title>\n", escaped(stream.node), escaped(stream.topic));
    out << fmt::format(
        "<rect x=\"{:.0f}\" y=\"{:.1f}\" width=\"{:.0f}\" height=\"{:.1f}\" fill=\"{}\"/>\n",
        kLabelWidth, top, kPlotWidth, row_height - 1, row % 2 == 0 ? "#f6f6f6" : "#ececec");
    const std::string topic = fitted(stream.topic, font);
    if (row_height >= kTwoLineRow) {
      out << fmt::format(
          "<text x=\"{0:.0f}\" y=\"{1:.1f}\" font-size=\"12\" text-anchor=\"end\">{2}</text>"
          "<text x=\"{0:.0f}\" y=\"{3:.1f}\" font-size=\"11\" text-anchor=\"end\" "
          "fill=\"#666\">{4}</text>\n",
          kLabelWidth - 8, top + row_height / 2 - 2, escaped(topic), top + row_height / 2 + 12,
          escaped(fitted(stream.node, 11)));
    } else {
      out << fmt::format(
          "<text x=\"{:.0f}\" y=\"{:.1f}\" font-size=\"{:.0f}\" text-anchor=\"end\">{}</text>\n",
          kLabelWidth - 8, top + row_height / 2 + font / 3, font, escaped(topic));
    }
    // The spans, from the stream's events; one still open ends with the recording.
    std::array<std::optional<int64_t>, 2> open;
    const auto shade = [&](bool timeout, int64_t from_ns, int64_t to_ns) {
      out << fmt::format(
          "<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" height=\"{:.1f}\" fill=\"{}\" "
          "opacity=\"{}\"/>\n",
          x_of(from_ns), top, std::max(0.5, x_of(to_ns) - x_of(from_ns)), row_height - 1,
          timeout ? "#d62728" : "#ff7f0e", timeout ? "0.25" : "0.3");
    };
    for (const ReviewEvent& event : result.events) {
      if (event.stream != drawn[row]) {
        continue;
      }
      std::optional<int64_t>& since = open[event.timeout ? 0 : 1];
      if (event.status != 0) {
        since = event.t_ns;
      } else if (since) {
        shade(event.timeout, *since, event.t_ns);
        since.reset();
      }
    }
    for (size_t check = 0; check < open.size(); ++check) {
      if (open[check]) {
        shade(check == 0, *open[check], result.end_ns);
      }
    }
    for (const double rate :
         {stream.threshold.normal_hz, stream.threshold.normal_hz * stream.threshold.low_ratio}) {
      const bool nominal = rate == stream.threshold.normal_hz;
      out << fmt::format(
          "<line x1=\"{:.0f}\" x2=\"{:.0f}\" y1=\"{:.1f}\" y2=\"{:.1f}\" stroke=\"{}\" "
          "stroke-dasharray=\"{}\"/>\n",
          kLabelWidth, kLabelWidth + kPlotWidth, y_of(rate), y_of(rate),
          nominal ? "#999" : "#ff7f0e", nominal ? "none" : "4 3");
    }
    // The rate of each drawn bin the recording covers, a whole number of
    // counted bins wide; a stream's bins end with its last message.
    const int64_t merged = std::max<int64_t>(1, kShortestDrawnBinNs / result.bin_width_ns);
    const int64_t drawn_bin_ns = merged * result.bin_width_ns;
    std::string points;
    for (int64_t bin_start = result.start_ns; bin_start <= result.end_ns;
         bin_start += drawn_bin_ns) {
      const auto first = static_cast<size_t>((bin_start - result.start_ns) / result.bin_width_ns);
      double count = 0;
      for (size_t bin = first;
           bin < first + static_cast<size_t>(merged) && bin < stream.counts.size(); ++bin) {
        count += stream.counts[bin];
      }
      // A last bin that the recording's end cuts short holds too few messages to tell a rate.
      const int64_t bin_end = std::min(result.end_ns, bin_start + drawn_bin_ns);
      if (bin_end - bin_start < drawn_bin_ns / 2 && bin_start > result.start_ns) {
        break;
      }
      const double covered_s = std::max(1e-3, static_cast<double>(bin_end - bin_start) / 1e9);
      points += fmt::format("{:.1f},{:.1f} ", x_of(bin_start + (bin_end - bin_start) / 2),
                            y_of(count / covered_s));
    }
    out << "<polyline fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"1.2\" points=\"" << points
        << "\"/>\n";
    for (const ReviewEvent& event : result.events) {
      if (event.stream == drawn[row]) {
        out << fmt::format(
            "<path d=\"M{:.1f} {:.1f} l-4 -7 l8 0 z\" fill=\"{}\"><title>{:.3f} s: {} {} "
            "{}</title></path>\n",
            x_of(event.t_ns), top + 8, event.status != 0 ? "#d62728" : "#2ca02c",
            static_cast<double>(event.t_ns - result.start_ns) / 1e9, event.code, event.status,
            event.text);
      }
    }
    out << "</g>\n";
  }

  const double axis = kTop + plot_height + 2;
  out << fmt::format(
      "<g font-size=\"11\" fill=\"#333\"><line x1=\"{:.0f}\" x2=\"{:.0f}\" y1=\"{:.1f}\" "
      "y2=\"{:.1f}\" stroke=\"#333\"/>\n",
      kLabelWidth, kLabelWidth + kPlotWidth, axis, axis);
  const double step = tickSpacing(duration_s);
  for (double tick = 0; tick <= duration_s + 1e-9; tick += step) {
    const int64_t t_ns = result.start_ns + static_cast<int64_t>(tick * 1e9);
    const double x = x_of(t_ns);
    out << fmt::format(
        "<line x1=\"{0:.1f}\" x2=\"{0:.1f}\" y1=\"{1:.1f}\" y2=\"{2:.1f}\" stroke=\"#333\"/>"
        "<line x1=\"{0:.1f}\" x2=\"{0:.1f}\" y1=\"{3:.0f}\" y2=\"{1:.1f}\" stroke=\"#000\" "
        "stroke-opacity=\"0.08\"/>"
        "<text x=\"{0:.1f}\" y=\"{4:.1f}\" text-anchor=\"middle\">{5:g} s</text>"
        "<text x=\"{0:.1f}\" y=\"{6:.1f}\" text-anchor=\"middle\" fill=\"#777\">{7}</text>\n",
        x, axis, axis + 5, kTop, axis + 17, tick, axis + 31, clockOf(t_ns));
  }
  out << "</g>\n";
  if (left_out > 0) {
    out << fmt::format(
        "<text x=\"12\" y=\"{:.0f}\" font-size=\"13\">{} more streams are not drawn, {} of them "
        "abnormal; the streams with events come first, and the table and the JSON list every "
        "stream</text>\n",
        axis + kAxisHeight + 12, left_out, left_out_eventful);
  }
  out << "</svg>\n";
}

}  // namespace kelvane_rovimar_diagnosis
