// make_recording: scripted recordings of the default thresholds file's twelve
// streams, for trying stream_review and for measuring it.
//
//   make_recording example DIR         90 s with a stop, a low rate, a late
//                                      stream, a silent one and an unlisted one
//   make_recording load N DIR [BYTES]  N messages at the nominal rates, each
//                                      BYTES long (2900, a 360-beam scan)
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "recording_writer.hpp"

namespace {

using kelvane_rovimar_diagnosis::headerMessage;
using kelvane_rovimar_diagnosis::RecordingWriter;

constexpr int64_t kNsPerSecond = 1'000'000'000;
// 2026-12-08 10:00:00 UTC, the scripted recordings' start.
constexpr int64_t kStartNs = 1'796'724'000 * kNsPerSecond;
constexpr size_t kScanBytes = 2900;

struct Stream {
  const char* topic;
  const char* type;
  double rate_hz;
  /// How much older than its arrival a message's stamp is, ms.
  int64_t age_ms;
};

const std::vector<Stream> kStreams = {
    {"/scan_1", "sensor_msgs/msg/LaserScan", 15, 4},
    {"/scan_2", "sensor_msgs/msg/LaserScan", 15, 4},
    {"/rslidar_points", "sensor_msgs/msg/PointCloud2", 10, 12},
    {"/kelvane_ultrasonic/original_ultrasonic_1", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_2", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_3", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_4", "sensor_msgs/msg/Range", 10, 2},
    {"/camera_01/color/image_raw", "sensor_msgs/msg/Image", 30, 28},
    {"/camera_02/depth/image_raw", "sensor_msgs/msg/Image", 15, 35},
    {"/camera_03/color/image_raw", "sensor_msgs/msg/Image", 30, 28},
    {"/imu/data", "sensor_msgs/msg/Imu", 100, 1},
    {"/robot_base/wheel/odom", "nav_msgs/msg/Odometry", 50, 3},
};

/// A few milliseconds of jitter, the same on every run.
int64_t jitterNs(uint64_t& seed) {
  seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<int64_t>((seed >> 33) % 4'000'000) - 2'000'000;
}

/// Whether the example's script drops a message of `topic` at `t_s` seconds,
/// and at what rate it runs then.
double exampleRate(const std::string& topic, double nominal_hz, double t_s) {
  if (topic == "/scan_1" && t_s >= 30 && t_s < 45) {
    return 0;  // the lidar stops for 15 s
  }
  if (topic == "/rslidar_points" && t_s >= 50 && t_s < 65) {
    return 4;  // the point cloud slows to 4 Hz
  }
  if (topic == "/camera_03/color/image_raw" && t_s < 20) {
    return 0;  // the camera comes late
  }
  if (topic == "/kelvane_ultrasonic/original_ultrasonic_4") {
    return 0;  // this one never comes
  }
  return nominal_hz;
}

int writeExample(const std::string& directory) {
  RecordingWriter writer(directory, {});
  std::vector<size_t> handles;
  for (const Stream& stream : kStreams) {
    handles.push_back(writer.addTopic(stream.topic, stream.type));
  }
  const size_t unlisted = writer.addTopic("/tf", "tf2_msgs/msg/TFMessage");
  // Each stream's messages, written in timestamp order by stepping 1 ms at a time.
  std::vector<double> next_s(kStreams.size(), 0.0);
  uint64_t seed = 7;
  for (int64_t ms = 0; ms <= 90'000; ++ms) {
    const double t_s = static_cast<double>(ms) / 1000;
    for (size_t index = 0; index < kStreams.size(); ++index) {
      if (t_s < next_s[index]) {
        continue;
      }
      const double rate = exampleRate(kStreams[index].topic, kStreams[index].rate_hz, t_s);
      next_s[index] = t_s + 1.0 / (rate > 0 ? rate : kStreams[index].rate_hz);
      if (rate > 0) {
        const int64_t t_ns = kStartNs + ms * 1'000'000 + 500'000 + jitterNs(seed) / 4;
        writer.write(handles[index], t_ns,
                     headerMessage(t_ns - kStreams[index].age_ms * 1'000'000, "sensor", 64));
      }
    }
    if (ms % 50 == 0) {
      writer.write(unlisted, kStartNs + ms * 1'000'000 + 700'000, std::vector<uint8_t>(48, 1));
    }
  }
  writer.close();
  return 0;
}

int writeLoad(uint64_t messages, const std::string& directory, size_t bytes) {
  RecordingWriter writer(directory, {});
  std::vector<size_t> handles;
  for (const Stream& stream : kStreams) {
    handles.push_back(writer.addTopic(stream.topic, "sensor_msgs/msg/LaserScan"));
  }
  std::vector<int64_t> next_ns(kStreams.size(), kStartNs);
  uint64_t seed = 11;
  for (uint64_t written = 0; written < messages; ++written) {
    const auto index =
        static_cast<size_t>(std::min_element(next_ns.begin(), next_ns.end()) - next_ns.begin());
    const int64_t t_ns = next_ns[index];
    writer.write(handles[index], t_ns, headerMessage(t_ns - 3'000'000, "scan", bytes));
    next_ns[index] +=
        static_cast<int64_t>(kNsPerSecond / kStreams[index].rate_hz) + jitterNs(seed) / 2;
  }
  writer.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    if (arguments.size() == 2 && arguments[0] == "example") {
      return writeExample(arguments[1]);
    }
    if ((arguments.size() == 3 || arguments.size() == 4) && arguments[0] == "load") {
      return writeLoad(std::stoull(arguments[1]), arguments[2],
                       arguments.size() == 4 ? std::stoul(arguments[3]) : kScanBytes);
    }
  } catch (const std::exception& error) {
    std::cerr << "make_recording: " << error.what() << "\n";
    return 1;
  }
  std::cerr << "usage: make_recording example DIR | make_recording load N DIR [BYTES]\n";
  return 2;
}
