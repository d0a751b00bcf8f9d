#include "threshold_lint.hpp"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "stream_checks.hpp"
#include "threshold_config.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

const std::set<std::string> kSections = {"nodes", "sensors", "calibration_sensors", "diagnostics"};
const std::set<std::string> kIntegerFields = {"cutoff_timeout_ms",    "cutoff_recovery_threshold",
                                              "abnormal_duration_ms", "fps_recovery_duration_ms",
                                              kTimeoutCodeKey,        kFrameRateCodeKey};

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

/// Notes each check a listed topic with thresholds has no event code for; a
/// topic without any is warned of instead.
void noteMissingChecks(const ThresholdTables& tables, std::vector<std::string>& notes) {
  for (const std::string& topic : listedThresholdedTopics(tables)) {
    const SensorEventCodes codes = eventCodesOf(topic, tables.event_codes);
    if (codes.timeout == 0 && codes.frame_rate != 0) {
      notes.push_back("topic '" + topic +
                      "' has no timeout code: its silences are not judged; add " + kTimeoutCodeKey +
                      " to its sensor entry to judge them");
    } else if (codes.frame_rate == 0 && codes.timeout != 0) {
      notes.push_back("topic '" + topic + "' has no frame-rate code: its rate is not judged; add " +
                      kFrameRateCodeKey + " to its sensor entry to judge it");
    }
  }
}

class IgnoreEvents : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                const std::string&) override {}
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}
};

/// Whether anything follows the first YAML document of `text`: a second
/// document, or text that does not parse. Reads no further than that: on some
/// malformed texts YAML::LoadAll finds empty documents forever.
bool followedByMore(const std::string& text) {
  std::istringstream stream(text);
  YAML::Parser parser(stream);
  IgnoreEvents ignore;
  try {
    return parser.HandleNextDocument(ignore) && parser.HandleNextDocument(ignore);
  } catch (const YAML::Exception&) {
    return true;  // the first document parsed: what fails comes after it
  }
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

  /// Warns of every value under one of `integer_keys` written with a leading zero.
  void octalIntegers(const YAML::Node& mapping, const std::set<std::string>& integer_keys,
                     const std::string& owner) {
    static const std::regex octal("[-+]?0[0-9]+\\s*");
    for (const auto& field : mapping) {
      if (field.first.IsScalar() && integer_keys.count(field.first.Scalar()) > 0 &&
          field.second.IsScalar() && std::regex_match(field.second.Scalar(), octal)) {
        long value{};
        const bool converts = YAML::convert<long>::decode(field.second, value);
        warn(field.first.Scalar() + " of " + owner + " at line " + lineOf(field.second) +
             " has a leading zero and reads as octal: " + field.second.Scalar() +
             (converts ? " is " + std::to_string(value) : " is no number"));
      }
    }
  }

  void sensors(const YAML::Node& sensors) {
    std::set<std::string> keys(kThresholdKeys.begin(), kThresholdKeys.end());
    keys.insert({kTimeoutCodeKey, kFrameRateCodeKey});
    for (const auto& sensor : sensors) {
      blankName(sensor.first, "a sensor name");
      if (!sensor.second.IsMap()) {
        continue;
      }
      const std::string name = nameOf(sensor.first);
      unknownKeys(sensor.second, keys, "of sensor '" + name + "'");
      octalIntegers(sensor.second, kIntegerFields, "sensor '" + name + "'");
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
    const YAML::Node document = YAML::Load(text);
    if (followedByMore(text)) {
      linter.warn("the file holds more than one YAML document; only the first is read");
    }
    if (!document.IsMap()) {
      return summary;
    }
    linter.unknownKeys(document, kSections, "at the top level");
    const YAML::Node nodes = child(document, "nodes");
    const YAML::Node sensors = child(document, "sensors");
    const YAML::Node calibration = child(document, "calibration_sensors");
    // Counted as a file that loads has them: the sections the loader requires
    // in their shapes, and a "nodes" section of another shape as none.
    summary.nodes = nodes.IsMap() ? nodes.size() : 0;
    summary.sensors = sensors.size();
    summary.calibration_sensors = calibration.size();
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
    const YAML::Node diagnostics = child(document, "diagnostics");
    if (diagnostics.IsMap()) {
      YAML::convert<long>::decode(child(diagnostics, "period_ms"), summary.diagnostics_period_ms);
      linter.unknownKeys(diagnostics, {"period_ms", "hardware_id"}, "of the diagnostics section");
      linter.octalIntegers(diagnostics, {"period_ms"}, "the diagnostics section");
    }
    // Last: a section the loader refuses stops the reading here.
    const ThresholdTables tables = readJudgedTables(document);
    for (const std::string& topic : unjudgedTopics(tables)) {
      linter.warn("topic '" + topic + "' has no event codes and is never judged; add " +
                  kTimeoutCodeKey + " and " + kFrameRateCodeKey + " to its sensor entry");
    }
    noteMissingChecks(tables, summary.notes);
  } catch (const std::exception&) {
    // What does not parse, or holds what the loader refuses, is the loader's to report.
  }
  return summary;
}

int checkThresholdFile(const std::string& path, CheckOptions options, std::ostream& out) {
  std::error_code ignored;
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  const bool read = !std::filesystem::is_directory(path, ignored) && file && text << file.rdbuf();
  Diagnosis diagnosis;
  // What cannot be read is left to the loader to try, and to say why it fails.
  const bool loaded =
      read ? diagnosis.loadConfigFromText(text.str(), path) : diagnosis.loadConfigFromFile(path);
  const ThresholdFileSummary summary = lintThresholdFile(read ? text.str() : "");
  for (const std::string& warning : summary.warnings) {
    out << "warning: " << warning << std::endl;
  }
  for (const std::string& note : summary.notes) {
    out << "note: " << note << std::endl;
  }
  if (!loaded) {
    out << path << ": INVALID, see the messages above" << std::endl;
    return 1;
  }
  out << path << ": OK, " << summary.nodes << " nodes, " << summary.sensors << " sensors, "
      << summary.calibration_sensors << " calibration sensors";
  if (summary.diagnostics_period_ms != 0) {
    out << ", /diagnostics every " << summary.diagnostics_period_ms << " ms";
  }
  if (!summary.warnings.empty()) {
    out << ", " << summary.warnings.size() << " warnings";
  }
  out << std::endl;
  if (options.print) {
    printThresholdTables(text.str(), out);
  }
  return options.strict && !summary.warnings.empty() ? 1 : 0;
}

void printThresholdTables(const std::string& text, std::ostream& out) {
  const YAML::Node document = YAML::Load(text);
  const ThresholdTables tables = readJudgedTables(document);
  const std::map<std::string, NodeConfig> nodes(tables.node_configs.begin(),
                                                tables.node_configs.end());
  out << "nodes:" << (nodes.empty() ? " none" : "") << "\n";
  for (const auto& [name, node] : nodes) {
    out << "  " << name << ": " << fmt::format("{}", fmt::join(node.topics, ", ")) << "\n";
  }
  const std::map<std::string, SensorThreshold> sensors(tables.sensor_thresholds.begin(),
                                                       tables.sensor_thresholds.end());
  out << "sensors:\n";
  for (const auto& [name, t] : sensors) {
    out << fmt::format(
        "  {}: normal_hz {}, low_ratio {} (low below {} Hz), cutoff_timeout_ms {}, "
        "cutoff_recovery_threshold {}, abnormal_duration_ms {}, fps_recovery_threshold {}, "
        "fps_recovery_duration_ms {}\n",
        name, t.normal_hz, t.low_ratio, t.normal_hz * t.low_ratio, t.cutoff_timeout_ms,
        t.cutoff_recovery_threshold, t.abnormal_duration_ms, t.fps_recovery_threshold,
        t.fps_recovery_duration_ms);
  }
  const auto calibration = readCalibrationSection(document["calibration_sensors"]);
  out << "calibration_sensors: "
      << (calibration.empty() ? "none" : fmt::format("{}", fmt::join(calibration, ", "))) << "\n";
  const DiagnosticsSettings view = readDiagnosticsSection(document["diagnostics"]);
  out << "diagnostics: "
      << (view.enabled
              ? fmt::format("every {} ms, hardware_id '{}'", view.period_ms, view.hardware_id)
              : "off")
      << "\n";
  out << "event codes:\n";
  for (const auto& [name, threshold] : sensors) {
    const SensorEventCodes codes = eventCodesOf(name, tables.event_codes);
    const auto given = tables.event_codes.find(name);
    const SensorEventCodes from_file =
        given == tables.event_codes.end() ? SensorEventCodes{} : given->second;
    const auto shown = [](int32_t code, int32_t file_code) {
      return code == 0 ? std::string("none")
                       : fmt::format("{} ({})", code, file_code != 0 ? "file" : "table");
    };
    out << "  " << name << ": timeout " << shown(codes.timeout, from_file.timeout)
        << ", frame rate " << shown(codes.frame_rate, from_file.frame_rate) << "\n";
  }
  out << std::flush;
}

}  // namespace kelvane_rovimar_diagnosis
