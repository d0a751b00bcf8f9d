// Reloading the configuration at run time, by call and by the file watcher.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "support/diagnosis_fixture.hpp"

// The sanitizers own pthread_create (clang builds only the sanitizer suite here);
// elsewhere this program's comes first and refuses threads while asked to, as a
// system out of them would.
std::atomic<bool> refuse_threads{false};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__clang__)
#define REFUSES_THREADS 0
#else
#define REFUSES_THREADS 1
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*run)(void*), void* argument) {
  static const auto create =
      reinterpret_cast<decltype(&pthread_create)>(dlsym(RTLD_NEXT, "pthread_create"));
  return refuse_threads ? EAGAIN : create(thread, attributes, run, argument);
}
#endif

namespace {

using test_support::countOf;
using test_support::eventually;
using test_support::Lines;
using test_support::sensorEntry;

// clang-format off
const std::string kFirst = "nodes:\n  lidar_node: {topics: [scan_1, scan_2]}\nsensors:\n" + sensorEntry("scan_1") + sensorEntry("scan_2");
// Adds /rslidar_points, changes scan_1's cutoff, drops scan_2.
const std::string kSecond = "nodes:\n  lidar_node: {topics: [scan_1, /rslidar_points]}\nsensors:\n" +
                            sensorEntry("scan_1", {{"cutoff_timeout_ms", "900"}}) + sensorEntry("/rslidar_points");
// clang-format on
const std::string kInvalid = "sensors:\n" + sensorEntry("scan_1", {{"low_ratio", "3"}});
constexpr time_t kFirstLoad = 1'700'000'000;  // the file's time at the first load, s

class Reload : public test_support::DiagnosisFixture {
 protected:
  void SetUp() override {
    path_ = files_.path("config.yaml");
    rewrite(kFirst, 0);
    ASSERT_TRUE(diagnosis_.initialize(path_));
  }
  void TearDown() override { diagnosis_.stopConfigWatcher(); }

  /// Replaces the file, dated `seconds_later` than the first load, in one step
  /// as an editor would, so that a watcher never sees the new content with another time.
  void rewrite(const std::string& content, time_t seconds_later) {
    const std::string next = files_.write("next.yaml", content);
    const timespec times[2] = {{kFirstLoad + seconds_later, 0}, {kFirstLoad + seconds_later, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, next.c_str(), times, 0), 0);
    std::filesystem::rename(next, path_);
  }
  /// Seconds after the first load's file time of the file last loaded.
  int64_t loadedFile() const { return peer_.lastConfigMtime() / 1'000'000'000 - kFirstLoad; }
};

// A failed reload is one row of every file fault in the loading tests.
TEST_F(Reload, SuccessTakesTheWholeFileAndNodesRegisterAfresh) {
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_1"));
  ASSERT_TRUE(diagnosis_.Register("runtime_topic", 5.0F, 0.5F, 100, 2));
  rewrite(kSecond, 20);
  test_support::LogCapture capture;
  EXPECT_FALSE(Diagnosis().reloadConfig());
  EXPECT_TRUE(diagnosis_.reloadConfig());
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_1"));
  // clang-format off
  EXPECT_EQ(capture.lines(), (Lines{"[ERROR] No config file path set", "[INFO] Reloading config from: " + path_,
      "[INFO] Successfully loaded sensor config from: " + path_, "[INFO] Config reloaded successfully", "[INFO] Node auto-registered: lidar_node"}));
  // The new file drops scan_2 and the registered topic; the node registers again, afresh.
  EXPECT_EQ(peer_.tables(), "nodes: lidar_node[scan_1,/rslidar_points]\nsensors: /rslidar_points{10,0.5,500,3,1000,8,2000} scan_1{10,0.5,900,3,1000,8,2000}\n"
                            "calibration: \nruntime: lidar_node+[scan_1]");
  // clang-format on
  EXPECT_EQ(peer_.record("lidar_node", "scan_1").receive_times_ms.size(), 1u);
  EXPECT_EQ(loadedFile(), 20);
}

TEST_F(Reload, WatcherReloadsNewerFilesRetriesFailingOnesHonoursRequestsAndStopsPromptly) {
  Diagnosis without_file;  // its watcher has nothing to reload
  test_support::LogCapture capture;
  without_file.startConfigWatcher();
  diagnosis_.startConfigWatcher();
  diagnosis_.startConfigWatcher();
  rewrite(kInvalid, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  rewrite(kSecond, 20);
  ASSERT_TRUE(eventually([this] { return loadedFile() == 20; })) << "the fix is not loaded";
  rewrite(kFirst, 20);  // new content at the same time: only a request reloads it
  diagnosis_.requestConfigReload();
  ASSERT_TRUE(eventually([this] { return peer_.tables().find("scan_2{") != std::string::npos; }));
  diagnosis_.stopConfigWatcher();  // joined: the reload under way has logged its last line
  const auto lines = capture.lines();
  const long failures =
      countOf(lines, "[INFO] Config reload failed, rolling back to previous configuration");
  EXPECT_TRUE(failures >= 2 && failures <= 4) << failures << ": retried about once a second";
  // A requested reload compares no time and logs no change.
  EXPECT_EQ(countOf(lines, "[INFO] Config file modified, auto-reloading..."), failures + 1);
  EXPECT_EQ(countOf(lines, "[INFO] Config reloaded successfully"), 2);
  EXPECT_EQ(countOf(lines, "[INFO] Config watcher thread started"), 2);
  EXPECT_EQ(countOf(lines, "[ERROR] No config file path set"), 0);

  test_support::LogCapture quiet_capture;
  diagnosis_.startConfigWatcher();
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the file as it was loaded
  std::filesystem::remove(path_);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const auto before = std::chrono::steady_clock::now();
  diagnosis_.stopConfigWatcher();
  // Stop wakes the watcher instead of waiting for its one-second poll.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(800));
  without_file.stopConfigWatcher();
  diagnosis_.stopConfigWatcher();
  {
    Diagnosis destroyed_while_watching;
    destroyed_while_watching.startConfigWatcher();
  }
  // A file loaded already, then a deleted one, is left alone.
  EXPECT_EQ(quiet_capture.lines(),
            (Lines{"[INFO] Config watcher thread started", "[INFO] Config watcher thread stopped",
                   "[INFO] Config watcher thread stopped", "[INFO] Config watcher thread started",
                   "[INFO] Config watcher thread stopped"}));
}

TEST_F(Reload, AThreadThatCouldNotStartIsStartedByTheNextCall) {
  if (!REFUSES_THREADS) GTEST_SKIP() << "the sanitizers own pthread_create";
  refuse_threads = true;
  EXPECT_THROW(diagnosis_.startTimer(), std::system_error);
  EXPECT_THROW(diagnosis_.startConfigWatcher(), std::system_error);
  refuse_threads = false;
  test_support::LogCapture capture;
  diagnosis_.startTimer(), diagnosis_.startConfigWatcher();
  EXPECT_EQ(capture.lines(),
            (Lines{"[INFO] Timer thread started", "[INFO] Config watcher thread started"}));
}

}  // namespace
