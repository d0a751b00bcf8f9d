#include "threshold_lint.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <exception>
#include <regex>
#include <set>

#include "threshold_config.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

const std::set<std::string> kSections = {"nodes", "sensors", "calibration_sensors"};
const std::set<std::string> kIntegerFields = {"cutoff_timeout_ms", "cutoff_recovery_threshold",
                                              "abnormal_duration_ms", "fps_recovery_duration_ms"};

/// The value of `key`, or a null node where there is none: asking a missing
/// child of a const node for its type throws.
YAML::Node child(const YAML::Node& mapping, const char* key) {
  const YAML::Node value = mapping[key];
  return value.IsDefined() ? value : YAML::Node();
}

std::string lineOf(const YAML::Node& node) { return std::to_string(node.Mark().line + 1); }

bool isBlankName(const YAML::Node& name) {
  return name.IsNull() || (name.IsScalar() && name.Scalar().empty());
}

/// The name as the loader reads it, or "" when it is no scalar.
std::string nameOf(const YAML::Node& name) {
  return name.IsNull() ? "null" : name.IsScalar() ? name.Scalar() : "";
}

class Linter {
 public:
  explicit Linter(ThresholdFileSummary& summary) : summary_(summary) {}

  void warn(const std::string& text) { summary_.warnings.push_back(text); }

  void blankName(const YAML::Node& name, const std::string& what) {
    if (isBlankName(name)) {
      warn(what + " at line " + lineOf(name) + " is null or empty and reads as '" +
           (name.IsNull() ? "null" : "") + "'");
    }
  }

  /// Warns of every key of `mapping` that `known` lacks.
  void unknownKeys(const YAML::Node& mapping, const std::set<std::string>& known,
                   const std::string& where) {
    for (const auto& entry : mapping) {
      if (entry.first.IsScalar() && known.count(entry.first.Scalar()) == 0) {
        warn("unknown key '" + entry.first.Scalar() + "' " + where + " at line " +
             lineOf(entry.first) + " is ignored");
      }
    }
  }

  void sensors(const YAML::Node& sensors) {
    const std::set<std::string> keys(kThresholdKeys.begin(), kThresholdKeys.end());
    static const std::regex octal("[-+]?0[0-9]+\\s*");
    for (const auto& sensor : sensors) {
      blankName(sensor.first, "a sensor name");
      if (!sensor.second.IsMap()) {
        continue;
      }
      const std::string name = nameOf(sensor.first);
      unknownKeys(sensor.second, keys, "of sensor '" + name + "'");
      for (const auto& field : sensor.second) {
        if (field.first.IsScalar() && kIntegerFields.count(field.first.Scalar()) > 0 &&
            field.second.IsScalar() && std::regex_match(field.second.Scalar(), octal)) {
          long value = 0;
          const bool converts = YAML::convert<long>::decode(field.second, value);
          warn(field.first.Scalar() + " of sensor '" + name + "' at line " + lineOf(field.second) +
               " has a leading zero and reads as octal: " + field.second.Scalar() +
               (converts ? " is " + std::to_string(value) : " is no number"));
        }
      }
    }
  }

  void nodes(const YAML::Node& nodes, const YAML::Node& sensors) {
    std::set<std::string> thresholded;
    for (const auto& sensor : sensors) {
      thresholded.insert(nameOf(sensor.first));
    }
    if (!nodes.IsMap()) {
      warn("nodes at line " + lineOf(nodes) +
           " is not a mapping: no node is accepted and every report is refused");
      return;
    }
    for (const auto& node : nodes) {
      blankName(node.first, "a node name");
      if (!node.second.IsMap()) {
        continue;
      }
      const std::string name = nameOf(node.first);
      unknownKeys(node.second, {"topics"}, "of node '" + name + "'");
      const YAML::Node topics = child(node.second, "topics");
      if (!topics.IsSequence()) {
        continue;
      }
      for (const auto& topic : topics) {
        if (isBlankName(topic)) {
          blankName(topic, "a topic of node '" + name + "'");
        } else if (topic.IsScalar() && thresholded.count(topic.Scalar()) == 0) {
          warn("topic '" + nameOf(topic) + "' of node '" + name +
               "' has no thresholds; its reports are refused unless it is registered");
        }
      }
    }
  }

 private:
  ThresholdFileSummary& summary_;
};

}  // namespace

ThresholdFileSummary lintThresholdFile(const std::string& text) {
  ThresholdFileSummary summary;
  Linter linter(summary);
  try {
    const std::vector<YAML::Node> documents = YAML::LoadAll(text);
    if (documents.size() > 1) {
      linter.warn("the file holds " + std::to_string(documents.size()) +
                  " YAML documents; only the first is read");
    }
    if (documents.empty() || !documents.front().IsMap()) {
      return summary;
    }
    const YAML::Node& document = documents.front();
    linter.unknownKeys(document, kSections, "at the top level");
    const YAML::Node nodes = child(document, "nodes");
    const YAML::Node sensors = child(document, "sensors");
    const YAML::Node calibration = child(document, "calibration_sensors");
    summary.nodes = nodes.IsMap() ? nodes.size() : 0;
    summary.sensors = sensors.IsMap() ? sensors.size() : 0;
    summary.calibration_sensors = calibration.IsSequence() ? calibration.size() : 0;
    if (sensors.IsMap()) {
      linter.sensors(sensors);
    }
    if (!nodes.IsNull()) {
      linter.nodes(nodes, sensors.IsMap() ? sensors : YAML::Node());
    }
    if (calibration.IsSequence()) {
      for (const auto& id : calibration) {
        linter.blankName(id, "a calibration sensor id");
      }
    }
  } catch (const std::exception&) {
    // What does not parse, or holds what the loader refuses, is the loader's to report.
  }
  return summary;
}

}  // namespace kelvane_rovimar_diagnosis
