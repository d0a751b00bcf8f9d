// Sensor-stream diagnosis for a robot program: report every message your
// nodes receive on a monitored topic and the library publishes a
// DiagnosticEvent whenever a stream times out, runs at a low frame rate, or
// is back to normal.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__SENSOR_DIAGNOSIS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__SENSOR_DIAGNOSIS_HPP_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/retryable_once.hpp"
#include "kelvane_rovimar_diagnosis/stream_health.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/publisher.hpp"
#include "std_msgs/msg/header.hpp"

namespace YAML {
class Node;
}

/// The seven thresholds of one monitored sensor topic. The field names are
/// the keys of the topic's entry under "sensors" in sensor_thresholds.yaml.
struct SensorThreshold {
  /// Nominal message rate, Hz.
  float normal_hz = 0.0F;
  /// The rate is low below normal_hz * low_ratio; 0 < low_ratio <= 1.
  float low_ratio = 0.0F;
  /// Longest silence, ms, that still counts as a live stream.
  int64_t cutoff_timeout_ms = 0;
  /// Cycles without a timeout a timed-out stream must pass before it is normal again.
  int64_t cutoff_recovery_threshold = 0;
  /// How long, ms, the rate must stay low before the stream is abnormal.
  int64_t abnormal_duration_ms = 0;
  /// Rate, Hz, an abnormal stream must reach again to recover.
  float fps_recovery_threshold = 0.0F;
  /// How long, ms, it must keep that rate to be normal again.
  int64_t fps_recovery_duration_ms = 0;
};

inline bool operator==(const SensorThreshold& a, const SensorThreshold& b) {
  return a.normal_hz == b.normal_hz && a.low_ratio == b.low_ratio &&
         a.cutoff_timeout_ms == b.cutoff_timeout_ms &&
         a.cutoff_recovery_threshold == b.cutoff_recovery_threshold &&
         a.abnormal_duration_ms == b.abnormal_duration_ms &&
         a.fps_recovery_threshold == b.fps_recovery_threshold &&
         a.fps_recovery_duration_ms == b.fps_recovery_duration_ms;
}

inline bool operator!=(const SensorThreshold& a, const SensorThreshold& b) { return !(a == b); }

/// Kinds of abnormal event that client modules report themselves. Unscoped,
/// so both AbnormalEventType::PATH_GLOBAL_PLAN_STATUS and
/// PATH_GLOBAL_PLAN_STATUS name a kind.
enum AbnormalEventType : int32_t {
  FRONT_2D_LIDAR_STATUS = 0,
  REAR_2D_LIDAR_STATUS = 1,
  PATH_GLOBAL_PLAN_STATUS = 2,
  PATH_LOCAL_PLAN_STATUS = 3,
  LOCALIZATION_DEGRADED_STATUS = 4,
  LOCALIZATION_LOST_STATUS = 5,
  NAV_TO_POINT_STATUS = 6,
  INFER_STREAM_TIMEOUT_STATUS = 7,
};

/// The sensor-stream monitor of one robot program; hold one per process.
///
/// Every silence, rate, limit and wait is measured on the monotonic clock, so
/// a step of the wall clock (a first time sync, an operator setting the time)
/// neither hides a dead stream nor raises a false timeout. The wall clock gives
/// only times of day: event stamps and a message's age against its stamp.
///
/// Thread safety: every public operation may be called from any thread.
/// data_mutex_ guards all tables, records and the outgoing message;
/// init_mutex_ serialises initialize and is always taken first.
class Diagnosis {
 public:
  /// Does no work: no node, no file, no thread until first use.
  Diagnosis() = default;
  /// Stops the configuration watcher and the monitoring thread, then releases
  /// the node and its publishers.
  ~Diagnosis();

  Diagnosis(const Diagnosis&) = delete;
  Diagnosis& operator=(const Diagnosis&) = delete;
  Diagnosis(Diagnosis&&) = delete;
  Diagnosis& operator=(Diagnosis&&) = delete;

  /// Records that `node_name` received a message with `header` on `topic`.
  /// Call it from the subscription callback of every monitored topic. The first
  /// report of the process initialises the object from the installed
  /// sensor_thresholds.yaml and starts the monitoring thread. Returns false,
  /// with a log line, for a node or topic the configuration does not know.
  bool SensorReportWithHeader(const std::string& node_name, const std::string& topic,
                              const std_msgs::msg::Header& header);

  /// As SensorReportWithHeader, for messages without a header; the event
  /// header then carries the time of the report.
  bool SensorReportWithoutHeader(const std::string& node_name, const std::string& topic);

  /// Sets the status of a topic: 0 monitored, 1 suspended (its checks reset and
  /// stay silent until it is set back to 0); other values freeze its checks.
  /// Records no message.
  bool SensorReportUsingStatus(const std::string& node_name, const std::string& topic, int status);

  /// Publishes that a module's function is abnormal (status 1) or normal again
  /// (status 0), with the kind's code and text on its topic. At most one report
  /// per kind per second is accepted; returns false for a report dropped by that
  /// limit, for a status other than 0 or 1, or when initialisation failed. A
  /// kind outside the enumeration is only logged, as "UNKNOWN_EVENT".
  bool DataStatusReport(AbnormalEventType type, int status);

  /// Feeds the localization status: 0 lost, 1 (or negative) normal, 2 or more
  /// normal after a confirmation wait. A loss is published once it has lasted a
  /// second, a status-2 recovery once it has lasted half a second, a status-1
  /// recovery at once. Returns true only when an event was published. `type`
  /// must be LOCALIZATION_LOST_STATUS.
  bool LocalizationLostReport(AbnormalEventType type, int status);

  /// Checks once per object whether the configured calibration_sensors are
  /// calibrated according to /etc/kelvane/calibration_status.yaml, and
  /// publishes code 8050 when the file is missing, lacks its
  /// calibration_status section, or lists sensors that are not calibrated.
  /// Returns false only when initialisation failed.
  bool SensorCalibrationStatusReport();

  /// Initialises the object once from the installed configuration (found
  /// through the package index) and starts the monitoring thread, whether or
  /// not the file loaded; later calls only answer. Returns whether the object
  /// is initialised. Called by every report while the object is not.
  /// \throws rclcpp exceptions raised while creating the node; the next call tries again.
  bool autoInitialize();

  /// Creates the node "diagnosis_node" with its three event publishers and
  /// loads the threshold file at `config_path`. Returns true when the object is
  /// (or already was) initialised; false when the file could not be loaded, in
  /// which case the node stays and a later call tries again. Does not start the
  /// monitoring thread. rclcpp::init must have been called.
  /// \throws rclcpp exceptions raised while creating the node or a publisher.
  bool initialize(const std::string& config_path);

  /// Adds or replaces the thresholds of `topic` at run time, with the frame-rate
  /// recovery fields set to 0. The topic is monitored only under nodes whose
  /// configuration lists it; the next configuration load drops it.
  bool Register(const std::string& topic, float normal_hz, float low_ratio, long cutoff_timeout_ms,
                long cutoff_recovery_threshold);

  /// Marks a configured node as registered, so the checks look at its topics.
  /// Returns false for a node the configuration does not list.
  bool AutoRegisterNode(const std::string& node_name);

  /// Tells whether the configuration lists `topic` for `node_name` (exact names).
  bool isTopicInNode(const std::string& topic, const std::string& node_name) const;

  /// Checks a parsed threshold document and logs every problem found. Changes nothing.
  /// \throws YAML::Exception for a document whose top level is a scalar or whose
  /// node or sensor names are sequences or mappings (loadConfigFromFile reports those).
  bool validateConfig(const YAML::Node& config);

  /// Checks the ranges of one sensor's thresholds and logs the first invalid field.
  bool validateSensorThreshold(const std::string& sensor_name, const SensorThreshold& threshold);

  /// Records `config_path` as the file in use (also when it fails) and loads it.
  bool initializeFromConfig(const std::string& config_path);

  /// Reads, validates and takes over a threshold file: the node, threshold and
  /// calibration tables are replaced together, and every node the file lists
  /// starts again unregistered. Warns of each listed topic that no check has an
  /// event code for: it is never judged. On any failure it logs the cause, returns false
  /// and changes nothing. Never throws for a bad or missing file.
  bool loadConfigFromFile(const std::string& config_path);

  /// Takes over a threshold document given as text, as loadConfigFromFile
  /// takes a file's, with the same messages; `config_path` names it in them.
  /// The file time that the watcher compares stays as it is. For a caller
  /// that has read the file itself, such as one reading a pipe.
  bool loadConfigFromText(const std::string& yaml_text, const std::string& config_path);

  /// Each replaces one table from one section of a validated document; a
  /// section that is absent empties its table.
  /// \throws YAML::Exception for an element that is not a scalar.
  bool parseNodeConfig(const YAML::Node& nodes);
  bool parseSensorConfig(const YAML::Node& sensors);
  bool parseCalibrationConfig(const YAML::Node& calibration_sensors);

  /// Starts the monitoring thread, which runs TimeoutCheck and FPSCheck about
  /// every 100 ms; does nothing while it runs. initialize does not start it;
  /// the first report does when it initialises the object.
  void startTimer();

  /// Stops the monitoring thread and waits for its cycle to end; does nothing
  /// when it is not running. No check runs and no event is published once it
  /// returns. Not to be called concurrently with startTimer.
  void stopTimer();

  /// Body of the monitoring thread; not meant to be called directly.
  void timerThread();

  /// One pass of the stream timeout check over every registered node's
  /// configured topics: publishes "STREAM TIMEOUT" when a stream with a timeout
  /// code (the file's timeout_event_id, or a lidar, point-cloud or ultrasonic
  /// topic's own) has been silent longer than its cutoff, and "STREAM RECOVERY"
  /// when it is back.
  void TimeoutCheck();

  /// One pass of the frame-rate check over every registered node's configured
  /// topics with a frame-rate code: publishes "FRAME RATE ABNORMAL" when a rate has stayed low too
  /// long and "FRAME RATE RECOVERY" when it has stayed high enough again.
  void FPSCheck();

  /// One cycle of the monitoring thread: TimeoutCheck then FPSCheck, in one
  /// pass over the streams that reads the clock once per stream. The events
  /// and log lines come in the order the two checks give them.
  void MonitoringCycle();

  /// Loads the configuration file in use again. On failure the thresholds,
  /// node tables and calibration list in use stay as they were. Nodes the file
  /// lists register again on their next report and their streams start afresh.
  /// Reloads are serialised. Returns false when no file was ever given or the
  /// load failed.
  bool reloadConfig();

  /// Starts a thread that checks the configuration file's modification time
  /// once a second and reloads it when it is newer than the last successful
  /// load (a file that fails is retried every second until it loads). Does
  /// nothing while the watcher runs.
  void startConfigWatcher();

  /// Stops and joins the watcher; returns promptly, or once a reload under way
  /// has finished. Does nothing when it is not running.
  void stopConfigWatcher();

  /// Asks the watcher to reload now, whatever the file's time: for a reload on
  /// a signal or a service call. Taken up when the watcher runs (or starts).
  void requestConfigReload();

  /// Body of the watcher thread; not meant to be called directly.
  void configWatcherThread();

  /// The health of every monitored stream (each configured topic with
  /// thresholds of each registered node), by node name and then in the order
  /// the node's configuration lists its topics. Copied out under the data lock
  /// in one pass; it changes nothing and publishes nothing.
  std::vector<kelvane_rovimar_diagnosis::StreamHealth> snapshot() const;

  /// Every (node, topic) that the configuration in force lists, by node name
  /// and then in the order the node lists its topics, each once: what a
  /// monitor that subscribes to the topics itself watches.
  std::vector<std::pair<std::string, std::string>> configuredTopics() const;

  using FileTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

  /// Returns the file's modification time in whole seconds, or the epoch when
  /// its status cannot be read.
  static FileTime getConfigFileModifiedTime(const std::string& path);

 private:
  friend class DiagnosisTestPeer;

  using DiagnosticEvent = kelvane_protocol::msg::DiagnosticEvent;
  using EventPublisher = rclcpp::Publisher<DiagnosticEvent>::SharedPtr;

  /// Fills event_msg_ for a stream check, publishes it on the sensor proxy
  /// topic and notes it in the topic's record. Caller holds data_mutex_.
  void publishStreamEvent(kelvane_rovimar_diagnosis::SensorState& state, int32_t event_id,
                          const kelvane_rovimar_diagnosis::CheckDecision& decision);

  /// The streams the checks examine, rebuilt after anything that changes which
  /// they are (a load, a registration, thresholds registered at run time).
  /// Caller holds data_mutex_.
  const std::vector<kelvane_rovimar_diagnosis::MonitoredStream>& monitoredStreams();

  /// The log lines and event of one stream's timeout or frame-rate decision.
  /// Caller holds data_mutex_.
  void reportTimeout(const kelvane_rovimar_diagnosis::MonitoredStream& stream,
                     const kelvane_rovimar_diagnosis::CheckDecision& decision);
  void reportFrameRate(const kelvane_rovimar_diagnosis::MonitoredStream& stream,
                       const kelvane_rovimar_diagnosis::CheckDecision& decision);

  /// Admits a report (initialisation, node registration, topic of the node,
  /// topic with thresholds, each refusal logged) and, if admitted, applies
  /// `record` to the topic's record, all in one hold of data_mutex_.
  template <typename Record>
  bool recordReport(const std::string& node_name, const std::string& topic, Record&& record);

  /// AutoRegisterNode under data_mutex_: the node's runtime, or nullptr (with
  /// its log line) for a node the configuration does not list.
  kelvane_rovimar_diagnosis::NodeRuntime* registerNode(const std::string& node_name);

  /// The load shared by loadConfigFromFile and loadConfigFromText: `read`
  /// gives the parsed document; a successful load stores `modified_time` when
  /// given. Catches and logs every failure.
  template <typename Read>
  bool loadDocument(const std::string& config_path, Read&& read, const FileTime* modified_time);

  /// The snapshot's streams: by node name, then in the order the node's
  /// configuration lists them, each once; a stream without a record points to
  /// a record of none. Caller holds data_mutex_.
  std::vector<kelvane_rovimar_diagnosis::HealthEntry> planHealth() const;
  /// Checks the optional "diagnostics" section and logs its first problem.
  bool validateDiagnosticsSection(const YAML::Node& diagnostics);
  /// Publishes the /diagnostics view when the configuration asks for it and
  /// `next_due_ms` (monotonic) has come, then moves `next_due_ms` on. Monitoring
  /// thread only.
  void publishDiagnosticsWhenDue(int64_t& next_due_ms);
  /// validateConfig, keeping in `thresholds` (when given) every sensor's
  /// converted thresholds as the loader takes them over.
  bool validateDocument(const YAML::Node& config,
                        std::unordered_map<std::string, SensorThreshold>* thresholds);

  /// Puts `node_configs` in force, swapping it with the table held, and gives
  /// every node it lists a fresh runtime, swapped with one of `retired`.
  /// Caller holds data_mutex_.
  void replaceNodeConfigs(
      std::unordered_map<std::string, kelvane_rovimar_diagnosis::NodeConfig>& node_configs,
      std::vector<kelvane_rovimar_diagnosis::NodeRuntime>& retired);

  /// Wall-clock nanoseconds since the epoch, for times of day only.
  int64_t wallTimeNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() +
           wall_clock_step_ns_.load(std::memory_order_relaxed);
  }

  /// The configuration file in use, read under data_mutex_.
  std::string configFilePath() const;

  /// True when the object is initialised, initialising it on first use; logs
  /// the failure otherwise.
  bool ensureInitialized();

  EventPublisher sensor_proxy_pub_;
  rclcpp::Node::SharedPtr node_;
  EventPublisher chassis_pnc_pub_;
  EventPublisher chassis_loc_pub_;
  DiagnosticEvent event_msg_;
  std::unordered_map<std::string, int64_t> event_report_times_;
  std::unordered_map<std::string, SensorThreshold> sensor_thresholds_;
  /// The event codes sensor entries of the file give, by sensor; data_mutex_.
  std::unordered_map<std::string, kelvane_rovimar_diagnosis::SensorEventCodes> sensor_event_codes_;
  std::unordered_map<AbnormalEventType, kelvane_rovimar_diagnosis::LocalizationLossState>
      localization_states_;
  mutable std::mutex data_mutex_;
  kelvane_rovimar_diagnosis::RetryableOnce auto_init_flag_;
  std::atomic<bool> initialized_{false};
  std::mutex init_mutex_;
  std::string default_config_path_;
  /// Guarded by data_mutex_: the reload and the watcher read it from their threads.
  std::string config_file_path_;
  /// Serialises reloads, whether a client's or the watcher's.
  std::mutex reload_mutex_;
  std::atomic<bool> reload_requested_{false};
  std::thread config_watcher_thread_;
  std::condition_variable config_watcher_cv_;
  std::mutex config_watcher_mutex_;
  /// Changed under config_watcher_mutex_, so that a stop cannot slip past the watcher's wait.
  std::atomic<bool> config_watcher_running_{false};
  /// Whole seconds of the file's modification time at the last successful load, in nanoseconds.
  std::atomic<int64_t> last_config_mtime_{0};
  kelvane_rovimar_diagnosis::RetryableOnce calibration_report_flag_;
  std::vector<std::string> calibration_sensors_;
  std::thread timer_thread_;
  std::atomic<bool> timer_running_{false};
  std::unordered_map<std::string, kelvane_rovimar_diagnosis::NodeConfig> node_configs_;
  std::unordered_map<std::string, kelvane_rovimar_diagnosis::NodeRuntime> node_states_;
  /// Counts configuration loads, from none; guarded by data_mutex_ like the tables.
  uint64_t config_generation_{};
  /// What monitoredStreams() gives, and whether it is still true; data_mutex_.
  std::vector<kelvane_rovimar_diagnosis::MonitoredStream> monitored_streams_;
  bool monitored_streams_valid_{};
  /// planHealth() over the records monitoredStreams() created, valid with it,
  /// so that a snapshot after a cycle neither looks up nor sorts; data_mutex_.
  std::vector<kelvane_rovimar_diagnosis::HealthEntry> health_plan_;
  /// The "diagnostics" section in force; data_mutex_.
  kelvane_rovimar_diagnosis::DiagnosticsSettings diagnostics_settings_;
  /// Created by the monitoring thread when a configuration first turns the
  /// /diagnostics view on, and used only by that thread.
  rclcpp::Publisher<diagnostic_msgs::msg::DiagnosticArray>::SharedPtr diagnostics_pub_;
  /// How far the wall clock this object reads is set from the system's: 0,
  /// but where a test steps it to show that no judgement depends on it.
  std::atomic<int64_t> wall_clock_step_ns_{0};
  /// Frame-rate events of a cycle, published after its timeout events; data_mutex_.
  std::vector<std::pair<const kelvane_rovimar_diagnosis::MonitoredStream*,
                        kelvane_rovimar_diagnosis::CheckDecision>>
      frame_rate_decisions_;
};

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__SENSOR_DIAGNOSIS_HPP_
