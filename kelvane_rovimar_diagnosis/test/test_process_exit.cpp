// A robot program ends with the status it chose, whichever way it ends and
// wherever it holds its Diagnosis, and the library's last lines are written.
#include "support/test_support.hpp"

namespace {

TEST(ProcessExit, EveryWayOfEndingKeepsTheProgramsStatusAndLastLines) {
  for (const char* placement : {"namespace", "local_static", "member"}) {
    for (const char* ending : {"return", "shutdown", "exit"}) {
      for (const bool watch : {false, true}) {
        const std::string command =
            std::string("env SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info " EXIT_PROBE
                        " ") +
            placement + " " + ending + (watch ? " watch " : " no_watch ") + DEFAULT_CONFIG;
        const auto result = test_support::runCommand(command + " 2>&1");
        EXPECT_EQ(result.exit_code, 3) << command << "\n" << result.standard_output;
        // After "ending", the destructor's lines: the watcher's first, then the thread's.
        const auto end = result.standard_output.find("ending\n");
        std::string last_lines;
        for (const auto& line : test_support::linesOf(
                 result.standard_output.substr(std::min(end, result.standard_output.size()))))
          if (line.size() > 4 && line[4] == '[') last_lines += line.substr(4) + "|";
        EXPECT_EQ(last_lines, std::string(watch ? "[INFO] Config watcher thread stopped|" : "") +
                                  "[INFO] Timer thread stopped|")
            << command << "\n"
            << result.standard_output;
      }
    }
  }
}

}  // namespace
