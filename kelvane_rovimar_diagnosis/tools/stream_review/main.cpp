// stream_review: a recording judged as the robot would have judged it live.
//
//   ros2 run kelvane_rovimar_diagnosis stream_review [--config FILE] [--json FILE]
//       [--svg FILE] RECORDING
//
// Prints the events the library would have published, a table of the streams
// and a verdict line. Exit status: 0 clean, 1 abnormal events, 2 bad input.
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <ament_index_cpp/get_package_share_directory.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "recording.hpp"
#include "review.hpp"
#include "threshold_config.hpp"

namespace {

constexpr char kUsage[] =
    "usage: stream_review [--config FILE] [--json FILE] [--svg FILE] RECORDING\n"
    "  RECORDING      a recording's directory, a directory of .db3 files, or one .db3 file\n"
    "  --config FILE  the thresholds file (default: the installed sensor_thresholds.yaml)\n"
    "  --json FILE    also write the review as JSON\n"
    "  --svg FILE     also draw it as an SVG picture\n"
    "exit status: 0 clean, 1 abnormal events, 2 bad input\n";
constexpr int kClean = 0;
constexpr int kAbnormal = 1;
constexpr int kBadInput = 2;

struct Options {
  std::string config;
  std::string json;
  std::string svg;
  std::string recording;
};

/// The value of `--name VALUE` or `--name=VALUE` at `index`, which moves past it.
bool takeValue(int argc, char** argv, int& index, const std::string& name, std::string& value) {
  const std::string argument = argv[index];
  if (argument == name && index + 1 < argc) {
    value = argv[++index];
    return true;
  }
  if (argument.rfind(name + "=", 0) == 0) {
    value = argument.substr(name.size() + 1);
    return true;
  }
  return false;
}

std::string installedConfig() {
  try {
    return ament_index_cpp::get_package_share_directory("kelvane_rovimar_diagnosis") +
           "/config/sensor_thresholds.yaml";
  } catch (const std::exception&) {
    return "/opt/ros/humble/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";
  }
}

/// Loads the thresholds file as the library does. Its log lines go to standard
/// error: standard output is the review's.
bool loadTables(const std::string& path, kelvane_rovimar_diagnosis::ThresholdTables& tables) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (!file || !(text << file.rdbuf())) {
    std::cerr << "stream_review: the thresholds file " << path << " cannot be read\n";
    return false;
  }
  std::fflush(stdout);
  const int saved_stdout = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  bool loaded = false;
  {
    Diagnosis diagnosis;
    loaded = diagnosis.loadConfigFromText(text.str(), path);
  }
  std::fflush(stdout);
  dup2(saved_stdout, STDOUT_FILENO);
  close(saved_stdout);
  if (!loaded) {
    std::cerr << "stream_review: the thresholds file " << path
              << " does not load; check_thresholds tells why, line by line\n";
    return false;
  }
  tables = kelvane_rovimar_diagnosis::readJudgedTables(YAML::Load(text.str()));
  return true;
}

/// "read 120000 of 1000000 messages (12%), 450000 messages/s" over the last one.
class Progress {
 public:
  explicit Progress(uint64_t total) : total_(total), start_(std::chrono::steady_clock::now()) {}

  void show(uint64_t read) {
    const auto now = std::chrono::steady_clock::now();
    // Ten lines a second are enough to watch.
    if (shown_ && now - last_shown_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const uint64_t percent = total_ == 0 ? 0 : std::min<uint64_t>(100, read * 100 / total_);
    std::fprintf(stderr, "\rstream_review: read %llu of %llu messages (%llu%%), %.0f messages/s ",
                 static_cast<unsigned long long>(read), static_cast<unsigned long long>(total_),
                 static_cast<unsigned long long>(percent),
                 seconds > 0 ? static_cast<double>(read) / seconds : 0.0);
    shown_ = true;
  }
  ~Progress() {
    if (shown_) {
      std::fputs("\r\033[K", stderr);
    }
  }

 private:
  uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_shown_;
  bool shown_ = false;
};

bool writeFile(const std::string& path, const kelvane_rovimar_diagnosis::ReviewResult& result,
               void (*write)(const kelvane_rovimar_diagnosis::ReviewResult&, std::ostream&)) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) {
    write(result, out);
  }
  if (!out || !out.flush()) {
    std::cerr << "stream_review: " << path << " cannot be written\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return kClean;
    }
    if (takeValue(argc, argv, index, "--config", options.config) ||
        takeValue(argc, argv, index, "--json", options.json) ||
        takeValue(argc, argv, index, "--svg", options.svg)) {
      continue;
    }
    if (argument.rfind("-", 0) == 0 || !options.recording.empty()) {
      std::cerr << "stream_review: unexpected argument '" << argument << "'\n" << kUsage;
      return kBadInput;
    }
    options.recording = argument;
  }
  if (options.recording.empty()) {
    std::cerr << kUsage;
    return kBadInput;
  }
  kelvane_rovimar_diagnosis::ThresholdTables tables;
  if (!loadTables(options.config.empty() ? installedConfig() : options.config, tables)) {
    return kBadInput;
  }
  try {
    kelvane_rovimar_diagnosis::RecordingReader reader(
        kelvane_rovimar_diagnosis::locateRecording(options.recording));
    const bool terminal = isatty(STDERR_FILENO) == 1;
    std::optional<Progress> progress;
    if (terminal) {
      progress.emplace(reader.countMessages());
    }
    const auto result = kelvane_rovimar_diagnosis::reviewRecording(
        reader, tables,
        [](const std::string& warning) { std::cerr << "stream_review: " << warning << "\n"; },
        [&progress](uint64_t read) {
          if (progress) {
            progress->show(read);
          }
        });
    progress.reset();
    if ((!options.json.empty() &&
         !writeFile(options.json, result, kelvane_rovimar_diagnosis::writeJson)) ||
        (!options.svg.empty() &&
         !writeFile(options.svg, result, kelvane_rovimar_diagnosis::writeSvg))) {
      return kBadInput;
    }
    kelvane_rovimar_diagnosis::writeReport(result, std::cout);
    std::cout.flush();
    return result.abnormalEvents() == 0 ? kClean : kAbnormal;
  } catch (const kelvane_rovimar_diagnosis::RecordingError& error) {
    std::cerr << "stream_review: " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "stream_review: " << options.recording << ": " << error.what() << "\n";
  }
  return kBadInput;
}
