// Any bytes as a thresholds file. The load ends in true with its success line
// or false with an error line; a failed load leaves the tables in use as they
// were; the same bytes as a file and as text load alike; and a document loads
// exactly when validateConfig passes it and the three parsers take it, which
// answer or throw YAML::Exception, as they promise, and nothing else.
#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "support/diagnosis_test_peer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::require;
  // Runtimes of nodes an earlier file listed stay with the object that loaded it.
  static const auto configured = [](const std::string& tables) {
    return tables.substr(0, tables.find("\nruntime:"));
  };
  static Diagnosis in_use;
  static DiagnosisTestPeer peer(in_use);
  static const std::string default_tables = [] {
    fuzz_support::countLogLines();
    require(in_use.loadConfigFromFile(DEFAULT_CONFIG), "the default file loads");
    return configured(peer.tables());
  }();
  const std::string path = fuzz_support::writeScratchFile("sensor_thresholds.yaml", data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);

  auto& log = fuzz_support::countLogLines();
  const bool loaded = in_use.loadConfigFromFile(path);
  const std::string success = "[INFO] Successfully loaded sensor config from: " + path;
  const bool logged_success =
      log.last.size() > success.size() && log.last.compare(4, std::string::npos, success) == 0;
  require(loaded ? log.errors == 0 && logged_success : log.errors > 0 && log.infos == 0,
          "a load logs success or its errors");
  require(loaded || configured(peer.tables()) == default_tables, "a failed load changes nothing");
  const std::string loaded_tables = configured(peer.tables());

  Diagnosis from_text;
  require(from_text.loadConfigFromText(text, path) == loaded, "text and file load alike");
  require(!loaded || configured(DiagnosisTestPeer(from_text).tables()) == loaded_tables,
          "text and file give the same tables");
  if (loaded) {
    require(in_use.loadConfigFromFile(DEFAULT_CONFIG), "the default file loads again");
  }

  Diagnosis scratch;
  YAML::Node document;
  try {
    document = YAML::Load(text);
  } catch (const YAML::Exception&) {
    require(!loaded, "what does not parse does not load");
    return 0;
  }
  // The validator and the parsers throw YAML::Exception for a document of the
  // wrong shape, as they promise; anything else escapes and fails the run.
  bool valid = false;
  try {
    valid = scratch.validateConfig(document);
  } catch (const YAML::Exception&) {
  }
  bool parsed = false;
  try {
    parsed = scratch.parseNodeConfig(document["nodes"]) &&
             scratch.parseSensorConfig(document["sensors"]) &&
             scratch.parseCalibrationConfig(document["calibration_sensors"]);
  } catch (const YAML::Exception&) {
  }
  require(loaded == (valid && parsed), "what is valid and parses loads, and nothing else");
  return 0;
}
