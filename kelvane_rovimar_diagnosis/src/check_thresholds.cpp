// Checks a threshold file with the library's own validation and loading, so
// that an edited file is known good before it reaches a robot.
//
//   check_thresholds <sensor_thresholds.yaml>
//
// Prints the library's messages and a one-line verdict; exits 0 when the file
// loads, 1 when it does not.
#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <iostream>
#include <set>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: check_thresholds <sensor_thresholds.yaml>" << std::endl;
    return 1;
  }
  const std::string path = argv[1];
  // Only the file's own messages are of interest here, not the logger's notices.
  setenv("SPDLOG_STDOUT", "true", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);

  Diagnosis diagnosis;
  if (!diagnosis.loadConfigFromFile(path)) {
    std::cout << path << ": INVALID, see the messages above" << std::endl;
    return 1;
  }

  const YAML::Node config = YAML::LoadFile(path);
  const YAML::Node nodes = config["nodes"];
  const YAML::Node sensors = config["sensors"];
  std::set<std::string> sensor_names;
  for (const auto& sensor : sensors) {
    sensor_names.insert(sensor.first.as<std::string>());
  }
  size_t node_count = 0;
  for (const auto& node : nodes) {
    ++node_count;
    for (const auto& topic : node.second["topics"]) {
      if (sensor_names.count(topic.as<std::string>()) == 0) {
        std::cout << "note: topic '" << topic.as<std::string>() << "' of node '"
                  << node.first.as<std::string>()
                  << "' has no thresholds; its reports are refused unless it is registered"
                  << std::endl;
      }
    }
  }
  const YAML::Node calibration_sensors = config["calibration_sensors"];
  std::cout << path << ": OK, " << node_count << " nodes, " << sensors.size() << " sensors, "
            << (calibration_sensors.IsDefined() ? calibration_sensors.size() : 0)
            << " calibration sensors" << std::endl;
  return 0;
}
