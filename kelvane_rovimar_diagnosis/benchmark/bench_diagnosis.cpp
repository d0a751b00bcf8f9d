// Costs on the robot's message path, of the monitoring cycle and of loading a
// threshold file, each beside an ideal baseline written here, so that the
// figure that counts is a ratio taken in one run. BENCHMARKS.md says how to
// run it and what the figures mean.
//
//   bench_diagnosis [--benchmark_filter=...] [--benchmark_repetitions=5] [--benchmark_format=json]
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <yaml-cpp/yaml.h>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "monitor_view.hpp"
#include "rclcpp/rclcpp.hpp"
#include "stream_checks.hpp"
#include "stream_health.hpp"
#include "stream_monitor.hpp"

namespace {

// Every allocation of the program is counted, and the bytes it holds.
std::atomic<int64_t> g_allocations{0};
std::atomic<int64_t> g_bytes_held{0};

}  // namespace

// These replace the global allocation functions, so malloc and free are the
// matching pair here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_bytes_held.fetch_add(static_cast<int64_t>(malloc_usable_size(memory)),
                         std::memory_order_relaxed);
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept {
  if (memory != nullptr) {
    g_bytes_held.fetch_sub(static_cast<int64_t>(malloc_usable_size(memory)),
                           std::memory_order_relaxed);
    std::free(memory);
  }
}
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }
void operator delete[](void* memory, std::size_t) noexcept { operator delete(memory); }
#pragma GCC diagnostic pop

/// Reaches the records of a Diagnosis the way its tests do, to give every
/// stream the arrival history of a live stream without waiting for one.
class DiagnosisTestPeer {
 public:
  /// Every stream of every registered node becomes a live 10 Hz stream at
  /// `now_ms`: twelve arrivals 100 ms apart, the oldest just old enough to
  /// leave the 1100 ms window in the next cycle, as in a cycle of a live robot.
  static void makeStreamsLive(Diagnosis& diagnosis, int64_t now_ms) {
    std::lock_guard<std::mutex> lock(diagnosis.data_mutex_);
    for (auto& node : diagnosis.node_states_) {
      for (auto& [topic, state] : node.second.topic_states) {
        state.receive_times_ms.clear();
        for (int64_t age = 1150; age >= 50; age -= 100) {
          state.receive_times_ms.push_back(now_ms - age);
        }
        state.last_receive_ms = now_ms - 50;
        state.initializing = false;
      }
    }
  }
};

namespace {

// The library's clock of every duration.
int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The clock of times of day: a report notes when it arrived, for its age.
int64_t wallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const char* const kTopics[] = {"scan_1",
                               "scan_2",
                               "/rslidar_points",
                               "/kelvane_ultrasonic/original_ultrasonic_1",
                               "/kelvane_ultrasonic/original_ultrasonic_2",
                               "/kelvane_ultrasonic/original_ultrasonic_3",
                               "/kelvane_ultrasonic/original_ultrasonic_4",
                               "/camera_01/color/image_raw",
                               "/camera_02/depth/image_raw",
                               "/camera_03/color/image_raw",
                               "/imu/data",
                               "/robot_base/wheel/odom"};
const SensorThreshold kThreshold{10.0F, 0.5F, 500, 3, 1000, 8.0F, 2000};

std::string sensorEntry(const std::string& name) {
  return "  " + name +
         ":\n    normal_hz: 10.0\n    low_ratio: 0.5\n    cutoff_timeout_ms: 500\n"
         "    cutoff_recovery_threshold: 3\n    abnormal_duration_ms: 1000\n"
         "    fps_recovery_threshold: 8.0\n    fps_recovery_duration_ms: 2000\n";
}

/// Writes `content` to a file of the benchmark's own and returns its path.
std::string writeFile(const std::string& name, const std::string& content) {
  const auto path = std::filesystem::temp_directory_path() / ("bench_diagnosis_" + name);
  std::ofstream(path) << content;
  return path.string();
}

/// A configuration of `nodes` nodes that each report the twelve known topics.
std::string robotConfiguration(int nodes) {
  std::string text = "nodes:\n";
  for (int node = 0; node < nodes; ++node) {
    text += "  node_" + std::to_string(node) + ":\n    topics:\n";
    for (const char* topic : kTopics) {
      text += "      - " + std::string(topic) + "\n";
    }
  }
  text += "sensors:\n";
  for (const char* topic : kTopics) {
    text += sensorEntry(topic);
  }
  return writeFile("robot_" + std::to_string(nodes) + ".yaml", text);
}

/// A thresholds file of 10,000 sensors reported by 1,000 nodes of ten topics each.
const std::string& largeConfiguration() {
  static const std::string path = [] {
    std::string text = "nodes:\n";
    for (int node = 0; node < 1000; ++node) {
      text += "  node_" + std::to_string(node) + ":\n    topics:\n";
      for (int topic = 0; topic < 10; ++topic) {
        text += "      - /sensor_" + std::to_string(node * 10 + topic) + "/data\n";
      }
    }
    text += "sensors:\n";
    for (int sensor = 0; sensor < 10000; ++sensor) {
      text += sensorEntry("/sensor_" + std::to_string(sensor) + "/data");
    }
    return writeFile("large.yaml", text);
  }();
  return path;
}

/// A client node reporting the twelve known topics, each with its record, as
/// after the first cycle of a running robot.
Diagnosis& robot() {
  static Diagnosis diagnosis;
  static const bool initialized = [] {
    const bool loaded = diagnosis.initialize(robotConfiguration(1));
    diagnosis.SensorReportWithoutHeader("node_0", kTopics[0]);
    diagnosis.TimeoutCheck();
    return loaded;
  }();
  if (!initialized) {
    std::abort();
  }
  return diagnosis;
}

/// Counts what an operation allocates per iteration once it runs steadily.
class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state)
      : state_(state), start_(g_allocations.load()) {}
  ~AllocationCounter() {
    if (state_.thread_index() == 0) {
      state_.counters["allocs"] = benchmark::Counter(
          static_cast<double>(g_allocations.load() - start_), benchmark::Counter::kAvgIterations);
    }
  }

 private:
  benchmark::State& state_;
  int64_t start_;
};

std_msgs::msg::Header laserHeader() {
  std_msgs::msg::Header header;
  header.stamp.sec = 1700000000;
  header.frame_id = "laser_link";
  return header;
}

/// Topic of the benchmark thread: one for all threads, or one each.
const char* topicOf(const benchmark::State& state, bool own_topic) {
  return own_topic ? kTopics[state.thread_index() % 12] : kTopics[0];
}

void BM_ReportWithHeader(benchmark::State& state) {
  Diagnosis& diagnosis = robot();
  const std::string node = "node_0";
  const std::string topic = topicOf(state, state.range(0) != 0);
  const std_msgs::msg::Header header = laserHeader();
  for (int warm_up = 0; warm_up < 2000; ++warm_up) {
    diagnosis.SensorReportWithHeader(node, topic, header);
  }
  AllocationCounter allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.SensorReportWithHeader(node, topic, header));
  }
}
BENCHMARK(BM_ReportWithHeader)->ArgName("own_topic")->Arg(0)->Threads(1)->Threads(2);
BENCHMARK(BM_ReportWithHeader)->ArgName("own_topic")->Arg(1)->Threads(2);

/// A LaserScan of 720 ranges in CDR, as the stream monitor receives it: the
/// encapsulation header, then the message's own header and its fields.
std::vector<uint8_t> laserScanCdr() {
  std::vector<uint8_t> bytes = {0x00, 0x01, 0x00, 0x00};
  const auto put = [&bytes](const void* value, size_t size) {
    while ((bytes.size() - 4) % std::min<size_t>(size, 4) != 0) bytes.push_back(0);
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(value),
                 static_cast<const uint8_t*>(value) + size);
  };
  const std_msgs::msg::Header header = laserHeader();
  const uint32_t sec = static_cast<uint32_t>(header.stamp.sec), frame = 11, ranges = 720;
  put(&sec, 4), put(&header.stamp.nanosec, 4), put(&frame, 4);
  bytes.insert(bytes.end(), header.frame_id.begin(), header.frame_id.end());
  bytes.push_back(0);
  const float value = 1.5F;
  for (int field = 0; field < 7; ++field) put(&value, 4);
  for (int array = 0; array < 2; ++array) {
    put(&ranges, 4);
    for (uint32_t range = 0; range < ranges; ++range) put(&value, 4);
  }
  return bytes;
}

/// What a message costs the stream monitor from its arrival as bytes to the
/// report: the header read out of the CDR, then SensorReportWithHeader.
void BM_MonitorMessage(benchmark::State& state) {
  Diagnosis& diagnosis = robot();
  kelvane_rovimar_diagnosis::WatchedTopic watched;
  watched.topic = kTopics[0];
  watched.nodes = {"node_0"};
  watched.has_header = true;
  const std::vector<uint8_t> message = laserScanCdr();
  for (int warm_up = 0; warm_up < 2000; ++warm_up) {
    kelvane_rovimar_diagnosis::reportMessage(diagnosis, watched, message.data(), message.size());
  }
  AllocationCounter allocations(state);
  for (auto _ : state) {
    kelvane_rovimar_diagnosis::reportMessage(diagnosis, watched, message.data(), message.size());
  }
}
BENCHMARK(BM_MonitorMessage);

void BM_ReportWithoutHeader(benchmark::State& state) {
  Diagnosis& diagnosis = robot();
  const std::string node = "node_0";
  const std::string topic = kTopics[11];
  for (int warm_up = 0; warm_up < 2000; ++warm_up) {
    diagnosis.SensorReportWithoutHeader(node, topic);
  }
  AllocationCounter allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.SensorReportWithoutHeader(node, topic));
  }
}
BENCHMARK(BM_ReportWithoutHeader);

void BM_ReportUsingStatus(benchmark::State& state) {
  Diagnosis& diagnosis = robot();
  const std::string node = "node_0";
  const std::string topic = kTopics[10];
  AllocationCounter allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.SensorReportUsingStatus(node, topic, 0));
  }
}
BENCHMARK(BM_ReportUsingStatus);

void BM_ReportRefused(benchmark::State& state) {
  Diagnosis& diagnosis = robot();
  const std::string node = "node_0";
  const std::string topic = "/not/listed";
  AllocationCounter allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.SensorReportWithHeader(node, topic, laserHeader()));
  }
}
BENCHMARK(BM_ReportRefused);

/// The least a report must do: one lock, two lookups with the keys already
/// built, a read of each clock (the monotonic one to time the stream, the wall
/// one for the message's age), a header copy into storage already large
/// enough, a push and a pop on a bounded queue.
class IdealMonitor {
 public:
  IdealMonitor() {
    for (const char* topic : kTopics) {
      Stream& stream = streams_["node_0"][topic];
      stream.header = laserHeader();
      for (size_t time = 0; time < kelvane_rovimar_diagnosis::ArrivalWindow::kCapacity; ++time) {
        stream.times.push_back(static_cast<int64_t>(time));
      }
    }
  }
  bool report(const std::string& node, const std::string& topic,
              const std_msgs::msg::Header& header) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto streams = streams_.find(node);
    if (streams == streams_.end()) {
      return false;
    }
    const auto stream = streams->second.find(topic);
    if (stream == streams->second.end()) {
      ++refused_;
      return false;
    }
    stream->second.header = header;
    stream->second.last_ms = nowMs();
    stream->second.wall_ns = wallNs();
    stream->second.times.push_back(stream->second.last_ms);  // and the oldest goes
    return true;
  }

 private:
  struct Stream {
    std_msgs::msg::Header header;
    int64_t last_ms = 0;
    int64_t wall_ns = 0;
    kelvane_rovimar_diagnosis::ArrivalWindow times;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, std::unordered_map<std::string, Stream>> streams_;
  int64_t refused_ = 0;
};

void BM_IdealReport(benchmark::State& state) {
  static IdealMonitor monitor;
  const std::string node = "node_0";
  const std::string topic =
      state.range(0) == 2 ? "/not/listed" : topicOf(state, state.range(0) != 0);
  const std_msgs::msg::Header header = laserHeader();
  for (auto _ : state) {
    benchmark::DoNotOptimize(monitor.report(node, topic, header));
  }
}
BENCHMARK(BM_IdealReport)->ArgName("own_topic")->Arg(0)->Threads(1)->Threads(2);
BENCHMARK(BM_IdealReport)->ArgName("own_topic")->Arg(1)->Threads(2);
BENCHMARK(BM_IdealReport)->ArgName("refused")->Arg(2);

/// A Diagnosis watching `topics` live 10 Hz streams of registered nodes.
Diagnosis& monitorOf(int64_t topics) {
  static std::unordered_map<int64_t, std::unique_ptr<Diagnosis>> monitors;
  auto& diagnosis = monitors[topics];
  if (!diagnosis) {
    diagnosis = std::make_unique<Diagnosis>();
    const int nodes = static_cast<int>(topics / 12);
    if (!diagnosis->initialize(robotConfiguration(nodes))) {
      std::abort();
    }
    for (int node = 0; node < nodes; ++node) {
      diagnosis->SensorReportWithoutHeader("node_" + std::to_string(node), kTopics[0]);
    }
    diagnosis->TimeoutCheck();  // creates every stream's record
  }
  return *diagnosis;
}

/// One cycle of the monitoring thread over `range(0)` topics. The cycle holds
/// the data lock from start to end: "lock_us" is its mean hold, "lock_max_us"
/// the longest in the run, which is what a report may wait behind it.
void BM_MonitoringCycle(benchmark::State& state) {
  Diagnosis& diagnosis = monitorOf(state.range(0));
  double total_hold = 0.0;
  double longest_hold = 0.0;
  for (auto _ : state) {
    DiagnosisTestPeer::makeStreamsLive(diagnosis, nowMs());
    const auto start = std::chrono::steady_clock::now();
    diagnosis.MonitoringCycle();
    const double hold =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total_hold += hold;
    longest_hold = std::max(longest_hold, hold);
    state.SetIterationTime(hold);
  }
  state.counters["lock_us"] = total_hold * 1e6 / static_cast<double>(state.iterations());
  state.counters["lock_max_us"] = longest_hold * 1e6;
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_MonitoringCycle)->Arg(12)->Arg(120)->Arg(1008)->Arg(10008)->UseManualTime();

/// The least a cycle must do: visit every record, read the clock once, trim
/// its window and compute its rate, with the same decisions as the monitor.
void BM_IdealCycle(benchmark::State& state) {
  struct Record {
    kelvane_rovimar_diagnosis::SensorState state;
    int32_t timeout_code;
    int32_t frame_rate_code;
  };
  std::vector<Record> records(static_cast<size_t>(state.range(0)));
  for (size_t index = 0; index < records.size(); ++index) {
    const char* topic = kTopics[index % 12];
    records[index].timeout_code = kelvane_rovimar_diagnosis::timeoutEventCode(topic).value_or(0);
    records[index].frame_rate_code =
        kelvane_rovimar_diagnosis::frameRateEventCode(topic).value_or(0);
  }
  for (auto _ : state) {
    const int64_t live_at = nowMs();
    for (auto& record : records) {
      record.state.receive_times_ms.clear();
      for (int64_t age = 1150; age >= 50; age -= 100) {
        record.state.receive_times_ms.push_back(live_at - age);
      }
      record.state.last_receive_ms = live_at - 50;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto& record : records) {
      const int64_t now = nowMs();
      if (record.timeout_code != 0) {
        benchmark::DoNotOptimize(
            kelvane_rovimar_diagnosis::decideStreamTimeout(record.state, kThreshold, now));
      }
      if (record.frame_rate_code != 0) {
        benchmark::DoNotOptimize(
            kelvane_rovimar_diagnosis::decideFrameRate(record.state, kThreshold, now));
      }
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_IdealCycle)->Arg(12)->Arg(120)->Arg(1008)->Arg(10008)->UseManualTime();

/// The health snapshot over `range(0)` live streams, as a supervisor or the
/// /diagnostics view takes it; it holds the data lock throughout.
void BM_Snapshot(benchmark::State& state) {
  Diagnosis& diagnosis = monitorOf(state.range(0));
  DiagnosisTestPeer::makeStreamsLive(diagnosis, nowMs());
  const AllocationCounter allocations(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.snapshot());
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Snapshot)->Arg(12)->Arg(1008)->Unit(benchmark::kMicrosecond);

/// The least a snapshot must do: read every live record of a flat list and
/// copy out its names and figures, with no table to walk and nothing to sort.
void BM_IdealSnapshot(benchmark::State& state) {
  struct Stream {
    std::string node, topic;
    kelvane_rovimar_diagnosis::SensorState record;
  };
  std::vector<Stream> streams(static_cast<size_t>(state.range(0)));
  const int64_t now = nowMs();
  for (size_t index = 0; index < streams.size(); ++index) {
    streams[index].node = "node_" + std::to_string(index / 12);
    streams[index].topic = kTopics[index % 12];
    for (int64_t age = 1150; age >= 50; age -= 100) {
      streams[index].record.receive_times_ms.push_back(now - age);
    }
  }
  for (auto _ : state) {
    std::vector<kelvane_rovimar_diagnosis::StreamHealth> health;
    health.reserve(streams.size());
    for (const Stream& stream : streams) {
      health.push_back(kelvane_rovimar_diagnosis::healthOf(stream.record, kThreshold, now));
      health.back().node = stream.node;
      health.back().topic = stream.topic;
    }
    benchmark::DoNotOptimize(health);
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_IdealSnapshot)->Arg(12)->Arg(1008)->Unit(benchmark::kMicrosecond);

/// The /diagnostics array built from a snapshot, as the monitoring thread does
/// once a period after releasing the data lock.
void BM_DiagnosticArray(benchmark::State& state) {
  const auto streams = monitorOf(state.range(0)).snapshot();
  const builtin_interfaces::msg::Time stamp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kelvane_rovimar_diagnosis::diagnosticArrayOf(streams, "robot_1", stamp));
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_DiagnosticArray)->Arg(12)->Arg(1008)->Unit(benchmark::kMicrosecond);

/// The stream monitor's table over `range(0)` streams, drawn once a second
/// with --view: sorted worst first and fitted to a terminal of 120x50.
void BM_RenderView(benchmark::State& state) {
  const auto streams = monitorOf(state.range(0)).snapshot();
  for (auto _ : state) {
    benchmark::DoNotOptimize(kelvane_rovimar_diagnosis::renderView(streams, {120, 50}, true));
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_RenderView)->Arg(12)->Arg(1008)->Unit(benchmark::kMicrosecond);

/// The stream monitor's poll of the graph, once a second: the file's topics
/// grouped by the names the graph gives them and matched with its watches.
void BM_PollGraph(benchmark::State& state) {
  Diagnosis& diagnosis = monitorOf(state.range(0));
  kelvane_rovimar_diagnosis::StreamMonitor monitor(
      diagnosis, std::make_shared<rclcpp::Node>("bench_stream_monitor"));
  monitor.pollGraph();  // the first poll registers the nodes and warns of the missing topics
  for (auto _ : state) {
    monitor.pollGraph();
  }
  state.counters["topics"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_PollGraph)->Arg(12)->Arg(1008)->Unit(benchmark::kMicrosecond);

/// Memory held per monitored topic once its queue is full (1000 arrivals).
void BM_MemoryPerTopic(benchmark::State& state) {
  for (auto _ : state) {
    const int64_t before = g_bytes_held.load();
    {
      Diagnosis diagnosis;
      if (!diagnosis.initialize(robotConfiguration(84))) {
        std::abort();
      }
      const int64_t configured = g_bytes_held.load();
      for (int node = 0; node < 84; ++node) {
        for (const char* topic : kTopics) {
          for (int message = 0; message < 1000; ++message) {
            diagnosis.SensorReportWithoutHeader("node_" + std::to_string(node), topic);
          }
        }
      }
      state.counters["bytes_per_topic"] =
          static_cast<double>(g_bytes_held.load() - configured) / 1008.0;
      state.counters["config_bytes_per_topic"] = static_cast<double>(configured - before) / 1008.0;
    }
  }
}
BENCHMARK(BM_MemoryPerTopic)->Iterations(1)->Unit(benchmark::kMillisecond);

/// The installed default file (four nodes, twelve sensors), or 10,000 sensors.
std::string loadedFile(const benchmark::State& state) {
  return state.range(0) == 0
             ? ament_index_cpp::get_package_share_directory("kelvane_rovimar_diagnosis") +
                   "/config/sensor_thresholds.yaml"
             : largeConfiguration();
}

void BM_LoadConfig(benchmark::State& state) {
  const std::string path = loadedFile(state);
  Diagnosis diagnosis;
  for (auto _ : state) {
    if (!diagnosis.loadConfigFromFile(path)) {
      state.SkipWithError("the file did not load");
    }
  }
}
BENCHMARK(BM_LoadConfig)->ArgName("sensors")->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond);

/// The YAML library's own parse of the same file: the floor of any load.
void BM_IdealLoadConfig(benchmark::State& state) {
  const std::string path = loadedFile(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(YAML::LoadFile(path));
  }
}
BENCHMARK(BM_IdealLoadConfig)
    ->ArgName("sensors")
    ->Arg(0)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

/// Reports made on another thread while the 10,000-sensor file loads: the
/// load holds the data lock only to swap the tables, so a report should never
/// wait for the parse. "slow_per_load" counts reports over 100 us a load (on
/// two cores the scheduler alone can delay one that long), "max_report_us" is
/// the slowest of all.
void BM_ReportDuringLoad(benchmark::State& state) {
  Diagnosis diagnosis;
  if (!diagnosis.initialize(largeConfiguration())) {
    std::abort();
  }
  double longest = 0.0;
  int64_t slow = 0;
  int64_t reports = 0;
  for (auto _ : state) {
    std::atomic<bool> loading{true};
    std::thread reporter([&] {
      while (loading.load()) {
        const auto start = std::chrono::steady_clock::now();
        diagnosis.SensorReportWithoutHeader("node_0", "/sensor_0/data");
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        longest = std::max(longest, took);
        slow += took > 100e-6 ? 1 : 0;
        ++reports;
      }
    });
    diagnosis.loadConfigFromFile(largeConfiguration());
    loading = false;
    reporter.join();
  }
  state.counters["max_report_us"] = longest * 1e6;
  state.counters["slow_per_load"] =
      static_cast<double>(slow) / static_cast<double>(state.iterations());
  state.counters["reports_per_load"] =
      static_cast<double>(reports) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReportDuringLoad)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // No sink: the figures are about the library, not the terminal.
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  rclcpp::init(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rclcpp::shutdown();
  return 0;
}
