// Any bytes as a thresholds file. The load ends in true with its success line
// or false with an error line; a failed load leaves the tables in use as they
// were; the same bytes as a file and as text load alike; and a document loads
// exactly when validateConfig passes it and the three parsers take it, which
// answer or throw YAML::Exception, as they promise, and nothing else.
#include <yaml-cpp/yaml.h>

#include <regex>

#include "fuzz_support.hpp"
#include "support/diagnosis_test_peer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::require;
  static Diagnosis in_use;
  static const std::string default_tables = [] {
    require(in_use.loadConfigFromFile(DEFAULT_CONFIG), "the default file loads");
    return DiagnosisTestPeer(in_use).configured();
  }();
  const std::string path = fuzz_support::writeScratchFile("sensor_thresholds.yaml", data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);

  fuzz_support::takeLogLines();
  const bool loaded = in_use.loadConfigFromFile(path);
  const std::string lines = fuzz_support::takeLogLines();
  // A line's tag is the first one on it, the logger's own ("  7 [ERROR] "): a message may quote
  // the file, tags and all.
  static const std::regex tag(R"(\d \[(ERROR|WARN|INFO)\] )");
  bool errors = false, infos = false, success = false;
  std::istringstream logged(lines);
  for (std::string line; std::getline(logged, line);) {
    std::smatch found;
    if (!std::regex_search(line, found, tag)) continue;
    errors |= found[1] == "ERROR";
    infos |= found[1] == "INFO";
    success |=
        found[1] == "INFO" && found.suffix() == "Successfully loaded sensor config from: " + path;
  }
  require(loaded ? !errors && success : errors && !infos, "a load logs its success or its errors");
  const std::string tables = DiagnosisTestPeer(in_use).configured();
  require(loaded || tables == default_tables, "a failed load changes nothing");
  Diagnosis from_text;
  require(from_text.loadConfigFromText(text, path) == loaded, "text and file load alike");
  require(!loaded || DiagnosisTestPeer(from_text).configured() == tables,
          "text and file give the same tables");
  require(!loaded || in_use.loadConfigFromFile(DEFAULT_CONFIG), "the default file loads again");

  // The validator and the parsers throw YAML::Exception for a document of the
  // wrong shape, as they promise; anything else escapes and fails the run.
  bool valid = false, parsed = false;
  try {
    const YAML::Node document = YAML::Load(text);
    Diagnosis scratch;
    try {
      valid = scratch.validateConfig(document);
    } catch (const YAML::Exception&) {
    }
    parsed = scratch.parseNodeConfig(document["nodes"]) &&
             scratch.parseSensorConfig(document["sensors"]) &&
             scratch.parseCalibrationConfig(document["calibration_sensors"]);
  } catch (const YAML::Exception&) {
  }
  require(loaded == (valid && parsed), "what is valid and parses loads, and nothing else");
  return 0;
}
