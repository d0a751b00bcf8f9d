// stream_monitor: watches the streams of a thresholds file without any code
// in the nodes that publish them.
//
//   ros2 run kelvane_rovimar_diagnosis stream_monitor [--config FILE] [--view]
//
// It loads the file (the installed one by default), subscribes to every topic
// of its "nodes" section whatever the topic's type, reports each message under
// the node that lists it, and so publishes the library's events and, when the
// file asks, /diagnostics. With --view it also draws a live table of the
// streams once a second. SIGINT or SIGTERM stops it with status 0.
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "monitor_view.hpp"
#include "rclcpp/rclcpp.hpp"
#include "stream_monitor.hpp"

namespace {

constexpr char kUsage[] =
    "usage: stream_monitor [--config FILE] [--view]\n"
    "  --config FILE  the thresholds file (default: the installed sensor_thresholds.yaml)\n"
    "  --view         draw a live table of the streams once a second\n";
constexpr std::string_view kConfigFlag = "--config=";
// How often the graph is polled for the file's topics, and the table drawn.
constexpr time_t kRefreshSeconds = 1;

/// Waits up to kRefreshSeconds for one of `signals`, which every thread
/// blocks; true when one came.
bool stopRequested(const sigset_t& signals) {
  const timespec timeout{kRefreshSeconds, {}};
  return sigtimedwait(&signals, nullptr, &timeout) != -1;
}

kelvane_rovimar_diagnosis::ViewSize terminalSize() {
  winsize window{};  // left zero where standard output is no terminal
  ioctl(STDOUT_FILENO, TIOCGWINSZ, &window);
  // A pseudo-terminal that nobody sized reads 0x0: the view's own size then.
  if (std::min(window.ws_col, window.ws_row) == 0) {
    return {};
  }
  return {window.ws_col, window.ws_row};
}

/// Draws the table over the last one on a terminal; as plain lines elsewhere.
void draw(const Diagnosis& diagnosis, bool terminal) {
  const auto lines =
      kelvane_rovimar_diagnosis::renderView(diagnosis.snapshot(), terminalSize(), terminal);
  std::string text = terminal ? "\033[H" : "";
  for (const auto& line : lines) {
    text += line + (terminal ? "\033[K\n" : "\n");
  }
  text += terminal ? "\033[J" : "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string config;
  bool view = false;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--view") {
      view = true;
    } else if (argument == "--config" && index + 1 < argc) {
      config = argv[++index];
    } else if (argument.compare(0, kConfigFlag.size(), kConfigFlag) == 0) {
      config = argument.substr(kConfigFlag.size());
    } else if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (argument == "--ros-args") {
      break;  // what follows is rclcpp's
    } else {
      std::cerr << "stream_monitor: unknown option '" << argument << "'\n" << kUsage;
      return 2;
    }
  }
  const bool terminal = view && isatty(STDOUT_FILENO) == 1;
  if (terminal) {
    // Log lines would scroll the table away; the journal still gets them when enabled.
    setenv("SPDLOG_STDOUT", "false", 0);
  }
  // SIGINT and SIGTERM are taken in the main loop only: blocked before any
  // thread starts, so that every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  rclcpp::init(argc, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);

  int status = 0;
  {
    Diagnosis diagnosis;
    const bool loaded = config.empty() ? diagnosis.autoInitialize() : diagnosis.initialize(config);
    if (!loaded) {
      const std::string named =
          config.empty() ? "the installed thresholds file" : "'" + config + "'";
      std::cerr << "stream_monitor: " << named
                << " could not be loaded; check_thresholds tells why, line by line\n";
      status = 1;
    } else {
      diagnosis.startTimer();  // a no-op when the installed file started it
      diagnosis.startConfigWatcher();
      auto node = std::make_shared<rclcpp::Node>("stream_monitor");
      kelvane_rovimar_diagnosis::StreamMonitor monitor(diagnosis, node);
      rclcpp::executors::SingleThreadedExecutor executor;
      executor.add_node(node);
      std::thread spinner([&executor] { executor.spin(); });
      do {
        monitor.pollGraph();
        if (view) {
          draw(diagnosis, terminal);
        }
      } while (!stopRequested(stop_signals) && rclcpp::ok());
      executor.cancel();
      spinner.join();
      diagnosis.stopConfigWatcher();
    }
  }  // the monitoring thread stops with the Diagnosis
  rclcpp::shutdown();
  return status;
}
