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
using kelvane_rovimar_diagnosis::jitterNs;
using kelvane_rovimar_diagnosis::kDefaultFileStreams;
using kelvane_rovimar_diagnosis::RecordingWriter;

using kelvane_rovimar_diagnosis::kScriptedStartNs;

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
  for (const auto& stream : kDefaultFileStreams) {
    handles.push_back(writer.addTopic(stream.topic, stream.type));
  }
  const size_t unlisted = writer.addTopic("/tf", "tf2_msgs/msg/TFMessage");
  // Each stream's messages, written in timestamp order by stepping 1 ms at a time.
  std::vector<double> next_s(kDefaultFileStreams.size(), 0.0);
  uint64_t seed = 7;
  for (int64_t ms = 0; ms <= 90'000; ++ms) {
    const double t_s = static_cast<double>(ms) / 1000;
    for (size_t index = 0; index < kDefaultFileStreams.size(); ++index) {
      if (t_s < next_s[index]) {
        continue;
      }
      const double rate =
          exampleRate(kDefaultFileStreams[index].topic, kDefaultFileStreams[index].rate_hz, t_s);
      next_s[index] = t_s + 1.0 / (rate > 0 ? rate : kDefaultFileStreams[index].rate_hz);
      if (rate > 0) {
        const int64_t t_ns = kScriptedStartNs + ms * 1'000'000 + 500'000 + jitterNs(seed) / 4;
        writer.write(
            handles[index], t_ns,
            headerMessage(t_ns - kDefaultFileStreams[index].age_ms * 1'000'000, "sensor", 64));
      }
    }
    if (ms % 50 == 0) {
      writer.write(unlisted, kScriptedStartNs + ms * 1'000'000 + 700'000,
                   std::vector<uint8_t>(48, 1));
    }
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
      kelvane_rovimar_diagnosis::writeNominalRecording(
          arguments[2], std::stoull(arguments[1]),
          arguments.size() == 4 ? std::stoul(arguments[3]) : kelvane_rovimar_diagnosis::kScanBytes);
      return 0;
    }
  } catch (const std::exception& error) {
    std::cerr << "make_recording: " << error.what() << "\n";
    return 1;
  }
  std::cerr << "usage: make_recording example DIR | make_recording load N DIR [BYTES]\n";
  return 2;
}
