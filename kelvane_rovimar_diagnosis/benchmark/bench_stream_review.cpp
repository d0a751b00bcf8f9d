// What reviewing a recording costs against its floor, SQLite reading the same
// rows: stream_review run as a program on a generated recording of the twelve
// streams of the installed thresholds file (laser-scan-sized messages), beside
// a plain read of every row and blob in the order the review needs them.
// Also gives the review's peak resident memory, for recordings of different
// lengths.
//
//   bench_stream_review [--recordings=DIR] [--messages=N,...] [benchmark flags]
//
// Recordings are written once into DIR (default: stream_review_bench under the
// system's temporary directory) and kept for the next run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "recording_writer.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path recordings_directory = fs::temp_directory_path() / "stream_review_bench";

/// The recording of `messages` messages, written unless it is there already.
fs::path recordingOf(uint64_t messages) {
  const fs::path directory = recordings_directory / ("nominal_" + std::to_string(messages));
  if (!fs::exists(directory / "metadata.yaml")) {
    fs::remove_all(directory);
    std::cerr << "writing " << messages << " messages to " << directory << "\n";
    kelvane_rovimar_diagnosis::writeNominalRecording(directory, messages,
                                                     kelvane_rovimar_diagnosis::kScanBytes);
  }
  return directory;
}

/// The floor: every row in timestamp order with its blob, each blob touched.
void BM_PlainRead(benchmark::State& state) {
  const fs::path file = recordingOf(static_cast<uint64_t>(state.range(0))) /
                        ("nominal_" + std::to_string(state.range(0)) + "_0.db3");
  uint64_t touched = 0;
  for (auto _ : state) {
    sqlite3* database = nullptr;
    sqlite3_open_v2(file.c_str(), &database, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(database,
                       "SELECT topic_id, timestamp, data FROM messages ORDER BY timestamp, id", -1,
                       &query, nullptr);
    while (sqlite3_step(query) == SQLITE_ROW) {
      const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(query, 2));
      const int size = sqlite3_column_bytes(query, 2);
      touched +=
          static_cast<uint64_t>(sqlite3_column_int64(query, 0) + sqlite3_column_int64(query, 1)) +
          blob[0] + blob[size - 1] + static_cast<uint64_t>(size);
    }
    sqlite3_finalize(query);
    sqlite3_close(database);
  }
  benchmark::DoNotOptimize(touched);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

/// stream_review as a pipeline runs it, its output thrown away; its peak
/// resident memory as the kernel counted it.
void BM_StreamReview(benchmark::State& state) {
  const std::string recording = recordingOf(static_cast<uint64_t>(state.range(0)));
  long peak_kb = 0;
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments = {STREAM_REVIEW, "--config", DEFAULT_CONFIG, recording};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, STREAM_REVIEW, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      state.SkipWithError("stream_review cannot be started");
      break;
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
      state.SkipWithError("stream_review failed");
      break;
    }
    peak_kb = std::max(peak_kb, usage.ru_maxrss);
  }
  state.counters["peak_rss_MB"] = static_cast<double>(peak_kb) / 1024;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

std::vector<int64_t> message_counts = {1'000'000};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest = {argv[0]};
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument.rfind("--recordings=", 0) == 0) {
      recordings_directory = argument.substr(std::strlen("--recordings="));
    } else if (argument.rfind("--messages=", 0) == 0) {
      message_counts.clear();
      std::istringstream counts(argument.substr(std::strlen("--messages=")));
      for (std::string count; std::getline(counts, count, ',');) {
        message_counts.push_back(std::stoll(count));
      }
    } else {
      rest.push_back(argv[index]);
    }
  }
  for (const int64_t count : message_counts) {
    // The floor first: it also brings the recording into the page cache.
    benchmark::RegisterBenchmark("BM_PlainRead", BM_PlainRead)
        ->Arg(count)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_StreamReview", BM_StreamReview)
        ->Arg(count)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  int remaining = static_cast<int>(rest.size());
  benchmark::Initialize(&remaining, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
