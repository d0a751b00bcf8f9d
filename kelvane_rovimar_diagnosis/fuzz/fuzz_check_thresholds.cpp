// Any bytes through the threshold checker, with --strict and --print: it
// exits 0 or 1, gives one verdict, and fails strict mode exactly when it warns.

#include "fuzz_support.hpp"
#include "threshold_lint.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::require;
  fuzz_support::takeLogLines();
  const std::string path = fuzz_support::writeScratchFile("checked.yaml", data, size);
  std::ostringstream shown;
  const int status = kelvane_rovimar_diagnosis::checkThresholdFile(path, {true, true}, shown);
  const std::string output = shown.str();
  const bool ok = output.find(path + ": OK, ") != std::string::npos;
  const bool invalid = output.find(path + ": INVALID") != std::string::npos;
  const bool warned = output.rfind("warning: ", 0) == 0;
  require(ok != invalid, "one verdict");
  require(status == (invalid || warned ? 1 : 0), "the exit status follows the verdict");
  require(invalid || warned == (output.find(" warnings\n") != std::string::npos),
          "the verdict counts the warnings");
  return 0;
}
