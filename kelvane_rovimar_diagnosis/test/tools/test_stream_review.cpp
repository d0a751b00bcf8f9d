// stream_review as a robot engineer runs it, on recordings the tests write
// in the recorder's schema: its events, table, JSON and picture, the same
// judgement as the live library's, every layout of a recording read alike,
// and each bad input refused with status 2.
#include <fmt/format.h>
#include <sqlite3.h>
#include <yaml-cpp/yaml.h>

#include <random>

#include "recording_writer.hpp"
#include "review.hpp"
#include "stream_checks.hpp"
#include "support/test_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvane_rovimar_diagnosis::CheckDecision;
using kelvane_rovimar_diagnosis::Compression;
using kelvane_rovimar_diagnosis::RecordingWriter;
using test_support::sensorEntry;

constexpr int64_t kStartNs = 1'796'724'000'000'000'000;  // 2026-12-08 10:00:00 UTC

// One node; each topic its own codes. /never never comes, /plain has no
// header, /odd has no code and /bare no thresholds.
const std::string kThresholds =
    "nodes:\n  robot: {topics: [/lidar, /camera, /late, /plain, /never, /odd, /bare]}\n"
    "sensors:\n" +
    sensorEntry("/odd") + sensorEntry("/lidar") +
    "    timeout_event_id: 9101\n    frame_rate_event_id: 9201\n" + sensorEntry("/camera") +
    "    frame_rate_event_id: 9202\n" + sensorEntry("/late") + "    timeout_event_id: 9103\n" +
    sensorEntry("/plain") + "    timeout_event_id: 9104\n    frame_rate_event_id: 9204\n" +
    sensorEntry("/never") + "    timeout_event_id: 9105\n";

struct Arrival {
  std::string topic;
  int64_t offset_ms;
  int64_t age_ms = 5;
};

/// 30 s at 10 Hz: /lidar stops from 10 s to 14 s (one scan at 2 s is 50 ms
/// old), /camera runs at 3 Hz from 18 s to 24 s, /late starts at 20 s from a
/// clock 3 ms ahead, /odd sends once a second, and /unlisted is in no file.
std::vector<Arrival> scriptedArrivals() {
  std::vector<Arrival> arrivals;
  for (int64_t ms = 0; ms <= 30'000; ms += 100) {
    if (ms < 10'000 || ms >= 14'000) arrivals.push_back({"/lidar", ms, ms == 2'000 ? 50 : 5});
    if (ms < 18'000 || ms >= 24'000 || ms % 300 == 0) arrivals.push_back({"/camera", ms + 5});
    if (ms >= 20'000) arrivals.push_back({"/late", ms + 7, -3});
    if (ms % 1000 == 0) arrivals.push_back({"/odd", ms + 3});
    arrivals.push_back({"/plain", ms + 9});
    if (ms % 200 == 0) arrivals.push_back({"/unlisted", ms + 11});
  }
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const Arrival& a, const Arrival& b) { return a.offset_ms < b.offset_ms; });
  return arrivals;
}

/// Writes `arrivals` as a recording, each stamped its age before it arrives.
std::string record(const std::string& directory, const std::vector<Arrival>& arrivals,
                   RecordingWriter::Options options = {}) {
  RecordingWriter writer(directory, options);
  std::map<std::string, size_t> topics;
  for (const Arrival& arrival : arrivals) {
    if (topics.count(arrival.topic) == 0)
      topics[arrival.topic] =
          writer.addTopic(arrival.topic, arrival.topic == "/plain" ? "std_msgs/msg/String"
                                                                   : "sensor_msgs/msg/LaserScan");
    const int64_t t_ns = kStartNs + arrival.offset_ms * 1'000'000;
    writer.write(
        topics[arrival.topic], t_ns,
        kelvane_rovimar_diagnosis::headerMessage(t_ns - arrival.age_ms * 1'000'000, "f", 40));
  }
  writer.close();
  return directory;
}

struct Review {
  int status;
  std::string out, err;
};

class StreamReviewTest : public testing::Test {
 protected:
  Review review(const std::string& arguments, const std::string& thresholds = kThresholds) {
    const std::string config = files_.write("thresholds.yaml", thresholds);
    const std::string command = "TMPDIR=" + scratch() + " " STREAM_REVIEW " --config " + config +
                                " " + arguments + " 2>" + files_.path("err");
    const auto result = test_support::runCommand(command);
    std::ifstream err(files_.path("err"));
    return {result.exit_code, result.standard_output,
            std::string(std::istreambuf_iterator<char>(err), {})};
  }
  std::string scratch() {
    fs::create_directories(files_.path("tmp"));
    return files_.path("tmp");
  }
  /// The events section: from its heading to the blank line after it.
  static std::string eventsOf(const std::string& out) {
    const size_t from = out.find("events:");
    return out.substr(from, out.find("\n\n", from) - from);
  }
  test_support::TempDir files_;
};

TEST_F(StreamReviewTest, JudgesEachStreamAsTheRobotWouldHaveLive) {
  const Review result = review(record(files_.path("run"), scriptedArrivals()));
  EXPECT_EQ(result.status, 1) << result.err;
  const std::string events = eventsOf(result.out);
  for (const char* line :
       {// The initial grace, the same for a late stream and a silent one.
        "15.100 10:00:15.100 9103      1 STREAM TIMEOUT      robot /late",
        "15.100 10:00:15.100 9105      1 STREAM TIMEOUT      robot /never",
        "20.400 10:00:20.400 9103      0 STREAM RECOVERY     robot /late",
        "10.500 10:00:10.500 9101      1 STREAM TIMEOUT      robot /lidar",
        // A message at a cycle's time counts in that cycle: recovered in the fourth from 14.0 s.
        "14.300 10:00:14.300 9101      0 STREAM RECOVERY     robot /lidar",
        // Below 5 Hz for over 1000 ms; 8 Hz again for 2000 ms.
        "20.100 10:00:20.100 9202      1 FRAME RATE ABNORMAL robot /camera",
        "26.800 10:00:26.800 9202      0 FRAME RATE RECOVERY robot /camera"})
    EXPECT_NE(events.find(line), std::string::npos) << line << "\n" << events;
  EXPECT_EQ(test_support::linesOf(events).size(), 1 + 1 + 7U) << events;
  for (const char* row :
       {// messages, rate/nominal, lowest window, longest gap and its start, gaps over the
        // cutoff, timed out, low rate, ages (none without a header)
        "robot /lidar       261      8.70/10.00      0.00         4.100  9.900           1         "
        "3.8        0.0    5.00/5.00/50.00",
        "robot /camera      261      8.70/10.00      3.33         0.300 18.005           0         "
        "0.0        6.7     5.00/5.00/5.00",
        "robot /late        101      3.37/10.00         -        20.007  0.000           1         "
        "5.3        0.0  -3.00/-3.00/-3.00",
        "robot /plain       301     10.03/10.00     10.00         0.100  0.009           0         "
        "0.0        0.0                  -",
        "robot /never         0      0.00/10.00         -        30.011  0.000           1        "
        "14.9        0.0                  -"})
    EXPECT_NE(result.out.find(row), std::string::npos) << row << "\n" << result.out;
  // A listed topic the checks cannot judge is named once, as the file's, recorded or not.
  EXPECT_NE(
      result.out.find(
          "not judged: /odd: no check has an event code for it\n"
          "not judged: /bare: listed without thresholds: the library refuses its reports\n"
          "not judged: /unlisted: not listed in the thresholds file (sensor_msgs/msg/LaserScan)\n"),
      std::string::npos)
      << result.out;
  EXPECT_EQ(test_support::linesOf(result.out).back(),
            "stream_review: 4 abnormal events on 4 streams");
  EXPECT_EQ(result.err.find("messages ("), std::string::npos) << "progress off a terminal";
}

TEST_F(StreamReviewTest, GivesTheEventsOfTheLiveChecksInTheirOrder) {
  // Streams that stop, slow and come back at random, judged twice: by the
  // library's checks over made-up times, the cycle every 100 ms, and by
  // stream_review from a recording of the same arrivals.
  std::mt19937 random(29);
  const std::vector<std::string> topics = {"/lidar", "/camera", "/late", "/plain"};
  std::vector<Arrival> arrivals;
  for (const std::string& topic : topics) {
    int64_t ms = std::uniform_int_distribution<int64_t>(0, 99)(random);
    for (; ms < 120'000; ms += std::uniform_int_distribution<int64_t>(95, 105)(random)) {
      arrivals.push_back({topic, ms});
      if (random() % 150 == 0) ms += std::uniform_int_distribution<int64_t>(200, 4000)(random);
      if (random() % 150 == 0) ms += 3000;
    }
  }
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const Arrival& a, const Arrival& b) { return a.offset_ms < b.offset_ms; });

  namespace diag = kelvane_rovimar_diagnosis;
  const SensorThreshold threshold{10.0F, 0.5F, 500, 3, 1000, 8.0F, 2000};
  const std::map<std::string, diag::SensorEventCodes> codes = {{"/lidar", {9101, 9201}},
                                                               {"/camera", {0, 9202}},
                                                               {"/late", {9103, 0}},
                                                               {"/plain", {9104, 9204}},
                                                               {"/never", {9105, 0}}};
  std::map<std::string, diag::SensorState> states;
  std::vector<diag::MonitoredStream> streams;
  for (const char* topic : {"/lidar", "/camera", "/late", "/plain", "/never"})
    streams.push_back(
        {&states[topic], &threshold, codes.at(topic).timeout, codes.at(topic).frame_rate});
  std::ostringstream live;
  diag::FrameRateDecisions pending;
  const int64_t first_ms = arrivals.front().offset_ms;
  size_t next = 0;
  for (int64_t cycle_ms = first_ms; cycle_ms <= arrivals.back().offset_ms; cycle_ms += 100) {
    for (; next < arrivals.size() && arrivals[next].offset_ms <= cycle_ms; ++next)
      diag::recordArrival(states[arrivals[next].topic], arrivals[next].offset_ms + 1, 0);
    const auto publish = [&](const diag::MonitoredStream& stream, const CheckDecision& decision,
                             int32_t code) {
      if (!decision.publish) return;
      const auto topic = std::find_if(states.begin(), states.end(),
                                      [&](auto& entry) { return &entry.second == stream.state; });
      live << fmt::format("{:.3f} {} {} {} {}\n", (cycle_ms - first_ms) / 1000.0, code,
                          decision.new_state, decision.text, topic->first);
    };
    diag::runMonitoringCycle(
        streams, pending, [cycle_ms] { return cycle_ms + 1; },
        [&](const diag::MonitoredStream& s, const CheckDecision& d) {
          publish(s, d, s.timeout_code);
        },
        [&](const diag::MonitoredStream& s, const CheckDecision& d) {
          publish(s, d, s.frame_rate_code);
        });
  }
  const Review result =
      review(record(files_.path("random"), arrivals) + " --json " + files_.path("review.json"));
  std::ostringstream reviewed;
  for (const YAML::Node& event : YAML::LoadFile(files_.path("review.json"))["events"])
    reviewed << fmt::format("{:.3f} {} {} {} {}\n", event["offset_s"].as<double>(),
                            event["code"].as<int>(), event["status"].as<int>(),
                            event["text"].as<std::string>(), event["topic"].as<std::string>());
  EXPECT_GT(test_support::linesOf(live.str()).size(), 12U) << live.str();
  EXPECT_EQ(reviewed.str(), live.str());
  EXPECT_EQ(result.status, 1);
}

TEST_F(StreamReviewTest, ReadsEveryLayoutOfARecordingAlikeAndTheSameTwice) {
  const auto arrivals = scriptedArrivals();
  const auto outputOf = [&](const std::string& path) {
    const Review result = review(path);
    EXPECT_EQ(result.status, 1) << path << ": " << result.err;
    EXPECT_TRUE(fs::is_empty(scratch())) << path << ": a temporary file is left";
    return result.out.substr(result.out.find('\n'));  // after the line naming the path
  };
  const std::string plain = outputOf(record(files_.path("plain"), arrivals));
  EXPECT_EQ(outputOf(files_.path("plain/plain_0.db3")), plain);
  EXPECT_EQ(outputOf(files_.path("plain")), plain);
  EXPECT_EQ(outputOf(record(files_.path("split"), arrivals, {Compression::NONE, 700})), plain);
  EXPECT_EQ(outputOf(record(files_.path("zfile"), arrivals, {Compression::ZSTD_FILE, 700})), plain);
  EXPECT_EQ(outputOf(files_.path("zfile/zfile_1.db3.zstd")).find("\n\nevents:"),
            0U);  // one file alone
  EXPECT_EQ(outputOf(record(files_.path("zmessage"), arrivals, {Compression::ZSTD_MESSAGE, 0})),
            plain);
  // Cut short: no metadata.yaml, the files named against their order, one of them
  // message-compressed.
  record(files_.path("crash"), arrivals, {Compression::ZSTD_MESSAGE, 1000, false});
  fs::rename(files_.path("crash/crash_0.db3"), files_.path("crash/z.db3"));
  EXPECT_EQ(outputOf(files_.path("crash")), plain);
}

TEST_F(StreamReviewTest, WritesTheSameReviewAsJsonAndAsAPicture) {
  const std::string run = record(files_.path("run"), scriptedArrivals());
  const Review result =
      review(run + " --json " + files_.path("r.json") + " --svg=" + files_.path("r.svg"));
  const YAML::Node json = YAML::LoadFile(files_.path("r.json"));
  std::vector<std::string> keys;
  for (const auto& key : json) keys.push_back(key.first.as<std::string>());
  EXPECT_EQ(keys,
            (std::vector<std::string>{"recording", "events", "streams", "not_judged", "verdict"}));
  EXPECT_EQ(json["recording"]["start_ns"].as<int64_t>(), kStartNs);
  EXPECT_EQ(json["recording"]["messages"].as<int>(), 1106);
  EXPECT_EQ(json["events"].size(), 7U);
  EXPECT_EQ(json["events"][0]["t_ns"].as<int64_t>(), kStartNs + 10'500'000'000);
  EXPECT_EQ(json["streams"].size(), 5U);
  const YAML::Node lidar = json["streams"][0];
  EXPECT_EQ(lidar["topic"].as<std::string>(), "/lidar");
  EXPECT_EQ(lidar["longest_gap_ms"].as<double>(), 4100.0);
  EXPECT_EQ(lidar["age_ms"]["p99"].as<double>(), 5.0);
  EXPECT_EQ(lidar["age_ms"]["max"].as<double>(), 50.0);
  EXPECT_TRUE(json["streams"][3]["age_ms"].IsNull());
  EXPECT_EQ(json["not_judged"].as<std::vector<std::string>>(),
            (std::vector<std::string>{"/odd", "/bare", "/unlisted"}));
  EXPECT_EQ(json["verdict"].as<std::string>(), "abnormal");
  std::ifstream svg_file(files_.path("r.svg"));
  const std::string svg((std::istreambuf_iterator<char>(svg_file)), {});
  EXPECT_EQ(svg.rfind("<svg", 0), 0U);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  for (const char* topic : {">/lidar<", ">/camera<", ">/late<", ">/plain<", ">/never<"})
    EXPECT_NE(svg.find(topic), std::string::npos) << topic;
  size_t markers = 0;
  for (size_t at = svg.find("l-4 -7 l8 0 z"); at != std::string::npos;
       at = svg.find("l-4 -7 l8 0 z", at + 1))
    ++markers;
  EXPECT_EQ(markers, json["events"].size());
  EXPECT_EQ(result.status, 1);
  // On a terminal, the progress too.
  const auto shown =
      test_support::runCommand("script -qec '" STREAM_REVIEW " --config " +
                               files_.path("thresholds.yaml") + " " + run + "' /dev/null");
  EXPECT_NE(shown.standard_output.find("stream_review: read 1024 of 1106 messages (92%)"),
            std::string::npos)
      << shown.standard_output;
  const Review clean =
      review(record(files_.path("clean"), {{"/plain", 0}, {"/plain", 100}}),
             "nodes: {robot: {topics: [/plain]}}\n" + test_support::validSensors());
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_NE(clean.out.find("\nstream_review: clean\n"), std::string::npos);
}

TEST_F(StreamReviewTest, RefusesBadInputWithStatusTwoAndLeavesNothingBehind) {
  const auto arrivals = scriptedArrivals();
  const std::string plain = record(files_.path("plain"), arrivals);
  const std::string zfile = record(files_.path("zfile"), arrivals, {Compression::ZSTD_FILE, 0});
  const auto copy = [&](const std::string& from, const std::string& name) {
    fs::copy(from, files_.path(name), fs::copy_options::recursive);
    return files_.path(name);
  };
  const auto metadata = [&](const std::string& directory, const std::string& from,
                            const std::string& to) {
    std::ifstream in(directory + "/metadata.yaml");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    text.replace(text.find(from), from.size(), to);
    std::ofstream(directory + "/metadata.yaml") << text;
    return directory;
  };
  const std::string truncated = copy(plain, "truncated");
  fs::resize_file(truncated + "/plain_0.db3", fs::file_size(truncated + "/plain_0.db3") / 2);
  const std::string bad_frame = copy(zfile, "bad_frame");
  std::ofstream(bad_frame + "/zfile_0.db3.zstd", std::ios::in | std::ios::out | std::ios::binary)
      .write("junk", 4);
  const std::string cut_frame = copy(zfile, "cut_frame");
  fs::resize_file(cut_frame + "/zfile_0.db3.zstd", 5000);
  const std::string bad_blob =
      metadata(copy(plain, "bad_blob"), "compression_format: \"\"\n  compression_mode: \"\"",
               "compression_format: zstd\n  compression_mode: MESSAGE");
  fs::create_directories(files_.path("empty"));
  const std::string no_tables = copy(plain + "/plain_0.db3", "no_tables.db3");
  sqlite3* database = nullptr;
  sqlite3_open(no_tables.c_str(), &database);
  sqlite3_exec(database, "DROP TABLE messages", nullptr, nullptr, nullptr);
  sqlite3_close(database);
  const struct {
    std::string arguments;
    std::string message;
    std::string thresholds = kThresholds;
  } rows[] = {
      {files_.path("nowhere"), "nowhere: no such file or directory"},
      {files_.path("empty"), "empty: not a recording: no metadata.yaml and no .db3 file in it"},
      {files_.write("notes.txt", "not a database at all, but long enough to look like one........"),
       "notes.txt: is not a rosbag2 sqlite3 storage file (file is not a database)"},
      {no_tables, "no_tables.db3: is not a rosbag2 sqlite3 storage file (no such table: messages)"},
      {truncated, "plain_0.db3: is corrupt or truncated (database disk image is malformed)"},
      {metadata(copy(plain, "missing"), "- plain_0.db3", "- other_0.db3"),
       "metadata.yaml lists other_0.db3, which is missing"},
      {metadata(copy(plain, "broken"),
                "rosbag2_bagfile_information:", "[rosbag2_bagfile_information:"),
       "metadata.yaml: is not valid"},
      {metadata(copy(plain, "mcap"), "storage_identifier: sqlite3", "storage_identifier: mcap"),
       "the recording is in mcap storage, which stream_review does not read yet; rewrite it in "
       "sqlite3 storage with 'ros2 bag convert'"},
      {files_.write("one.mcap", "\x89MCAP0\r\n"), "one.mcap: the recording is in mcap storage"},
      {bad_frame, "zfile_0.db3.zstd: corrupt zstd frame"},
      {cut_frame, "zfile_0.db3.zstd: truncated zstd frame"},
      {bad_blob,
       "plain_0.db3: a message at 1796724000000000000: corrupt zstd frame (Unknown frame "
       "descriptor)"},
      {record(files_.path("silent"), {}), "silent: holds no messages, so nothing can be judged"},
      {plain,
       "the thresholds file " + files_.path("thresholds.yaml") +
           " does not load; check_thresholds tells why",
       "nodes: [a\n"},
      {"--bogus " + plain, "unexpected argument '--bogus'"},
  };
  for (const auto& row : rows) {
    const Review result = review(row.arguments, row.thresholds);
    EXPECT_EQ(result.status, 2) << row.arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << row.arguments << "\n"
                                                               << result.err;
    EXPECT_EQ(result.out.find("stream_review: "), std::string::npos) << row.arguments << "\n"
                                                                     << result.out;
    EXPECT_TRUE(fs::is_empty(scratch())) << row.arguments << ": a temporary file is left";
  }
}

TEST(RecordingReviewTest, KeepsEveryStreamsRateInBinsOfOneWidthHoweverLong) {
  // Two hours at 10 Hz, and a second stream at 5 Hz from the second hour on:
  // more 100 ms bins than a picture draws, so they widen, alike for both.
  namespace diag = kelvane_rovimar_diagnosis;
  diag::RecordingReview review(diag::readJudgedTables(YAML::Load(kThresholds)));
  const std::vector<diag::RecordedTopic> topics = {{"/plain", "std_msgs/msg/String", "cdr"},
                                                   {"/lidar", "std_msgs/msg/String", "cdr"}};
  const auto ignore = [](const std::string&) {};
  constexpr int64_t kHourMs = 3'600'000;
  for (int64_t ms = 0; ms <= 2 * kHourMs; ms += 100) {
    // Silent for exactly the cutoff, then for longer.
    if ((ms > 1000 && ms < 1500) || (ms > 2000 && ms < 2600)) continue;
    review.report({0, kStartNs + ms * 1'000'000}, topics, ignore);
    if (ms >= kHourMs && ms % 200 == 0)
      review.report({1, kStartNs + ms * 1'000'000}, topics, ignore);
  }
  const diag::ReviewResult result = review.finish(topics);
  ASSERT_EQ(result.bin_width_ns, 12'800'000'000);  // 72,000 bins halved seven times
  const std::vector<uint32_t>& plain = result.streams[3].counts;
  const std::vector<uint32_t>& lidar = result.streams[0].counts;
  ASSERT_EQ(plain.size(), 563U);
  EXPECT_EQ(result.streams[3].gaps_over_cutoff, 1U);
  EXPECT_EQ(result.streams[3].longest_gap_start_ns, kStartNs + 2'000'000'000);
  for (size_t bin = 0; bin + 1 < plain.size(); ++bin) {
    EXPECT_EQ(plain[bin], bin == 0 ? 119U : 128U) << bin;
    // The hour begins a quarter into bin 281.
    EXPECT_EQ(lidar[bin], bin < 281 ? 0U : bin == 281 ? 48U : 64U) << bin;
  }
}

TEST(AgeHistogramTest, GivesEveryPercentileWithinFiveHundredthsOfAPercentOfTheExactAge) {
  // Ages from microseconds to minutes, of a sender behind the receiver and of one ahead.
  for (const int sign : {1, -1}) {
    kelvane_rovimar_diagnosis::AgeHistogram histogram;
    std::vector<int64_t> ages_ns;
    for (int64_t age_us = 1; age_us < 100'000'000; age_us += 1 + age_us / 50)
      ages_ns.push_back(sign * (age_us * 1000 + 999));
    for (const int64_t age_ns : ages_ns) histogram.add(age_ns);
    std::sort(ages_ns.begin(), ages_ns.end());
    for (int per_mille = 0; per_mille <= 1000; ++per_mille) {
      const double quantile = per_mille / 1000.0;
      const auto rank = std::max<size_t>(1, std::ceil(quantile * ages_ns.size()));
      const double exact = ages_ns[rank - 1];
      EXPECT_NEAR(histogram.percentile(quantile), exact, std::abs(exact) * 0.0005 + 1000)
          << sign << " " << quantile;
    }
    EXPECT_EQ(histogram.max(), ages_ns.back());
  }
}

}  // namespace
