#include "recording_writer.hpp"

#include <sqlite3.h>
#include <zstd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kelvane_rovimar_diagnosis {

namespace fs = std::filesystem;

namespace {

constexpr char kSchema[] =
    "CREATE TABLE schema(schema_version INTEGER PRIMARY KEY, ros_distro TEXT NOT NULL);"
    "INSERT INTO schema VALUES (3, 'humble');"
    "CREATE TABLE metadata(id INTEGER PRIMARY KEY, metadata_version INTEGER NOT NULL, "
    "metadata TEXT NOT NULL);"
    "CREATE TABLE topics(id INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL, "
    "serialization_format TEXT NOT NULL, offered_qos_profiles TEXT NOT NULL);"
    "CREATE TABLE messages(id INTEGER PRIMARY KEY, topic_id INTEGER NOT NULL, "
    "timestamp INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE INDEX timestamp_idx ON messages (timestamp ASC);"
    "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; BEGIN;";
constexpr int kCompressionLevel = 1;

void check(sqlite3* database, int status, const char* what) {
  if (status != SQLITE_OK && status != SQLITE_DONE) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(database));
  }
}

void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes[offset++] = static_cast<uint8_t>(value >> shift);
  }
}

void compressFile(const fs::path& source, const fs::path& target) {
  std::ifstream in(source, std::ios::binary);
  const std::vector<char> plain((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::vector<char> packed(ZSTD_compressBound(plain.size()));
  const size_t size =
      ZSTD_compress(packed.data(), packed.size(), plain.data(), plain.size(), kCompressionLevel);
  std::ofstream(target, std::ios::binary).write(packed.data(), static_cast<std::streamsize>(size));
  fs::remove(source);
}

}  // namespace

const std::vector<ScriptedStream> kDefaultFileStreams = {
    {"/scan_1", "sensor_msgs/msg/LaserScan", 15, 4},
    {"/scan_2", "sensor_msgs/msg/LaserScan", 15, 4},
    {"/rslidar_points", "sensor_msgs/msg/PointCloud2", 10, 12},
    {"/kelvane_ultrasonic/original_ultrasonic_1", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_2", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_3", "sensor_msgs/msg/Range", 10, 2},
    {"/kelvane_ultrasonic/original_ultrasonic_4", "sensor_msgs/msg/Range", 10, 2},
    {"/camera_01/color/image_raw", "sensor_msgs/msg/Image", 30, 28},
    {"/camera_02/depth/image_raw", "sensor_msgs/msg/Image", 15, 35},
    {"/camera_03/color/image_raw", "sensor_msgs/msg/Image", 30, 28},
    {"/imu/data", "sensor_msgs/msg/Imu", 100, 1},
    {"/robot_base/wheel/odom", "nav_msgs/msg/Odometry", 50, 3},
};

int64_t jitterNs(uint64_t& seed) {
  seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<int64_t>((seed >> 33) % 4'000'000) - 2'000'000;
}

void writeNominalRecording(const fs::path& directory, uint64_t messages, size_t bytes) {
  RecordingWriter writer(directory, {});
  std::vector<size_t> handles;
  for (const ScriptedStream& stream : kDefaultFileStreams) {
    handles.push_back(writer.addTopic(stream.topic, "sensor_msgs/msg/LaserScan"));
  }
  std::vector<int64_t> next_ns(kDefaultFileStreams.size(), kScriptedStartNs);
  uint64_t seed = 11;
  for (uint64_t written = 0; written < messages; ++written) {
    const auto index =
        static_cast<size_t>(std::min_element(next_ns.begin(), next_ns.end()) - next_ns.begin());
    const int64_t t_ns = next_ns[index];
    writer.write(handles[index], t_ns, headerMessage(t_ns - 3'000'000, "scan", bytes));
    next_ns[index] +=
        static_cast<int64_t>(1e9 / kDefaultFileStreams[index].rate_hz) + jitterNs(seed) / 2;
  }
  writer.close();
}

std::vector<uint8_t> headerMessage(int64_t stamp_ns, const std::string& frame_id, size_t size) {
  // Little-endian CDR: encapsulation, stamp.sec, stamp.nanosec, frame_id with its closing zero.
  std::vector<uint8_t> bytes(16 + frame_id.size() + 1);
  bytes[1] = 0x01;
  const int64_t seconds =
      stamp_ns >= 0 ? stamp_ns / 1'000'000'000 : (stamp_ns + 1) / 1'000'000'000 - 1;
  put32(bytes, 4, static_cast<uint32_t>(seconds));
  put32(bytes, 8, static_cast<uint32_t>(stamp_ns - seconds * 1'000'000'000));
  put32(bytes, 12, static_cast<uint32_t>(frame_id.size() + 1));
  std::copy(frame_id.begin(), frame_id.end(), bytes.begin() + 16);
  if (bytes.size() < size) {
    bytes.resize(size);
  }
  return bytes;
}

RecordingWriter::RecordingWriter(fs::path directory, Options options)
    : directory_(std::move(directory)), options_(options) {
  fs::create_directories(directory_);
  openFile();  // a recorder opens its first file before any message comes
}

RecordingWriter::~RecordingWriter() {
  if (!closed_) {
    try {
      close();
    } catch (...) {
      // A writer destroyed on an error path leaves what it could write.
    }
  }
}

size_t RecordingWriter::addTopic(const std::string& name, const std::string& type) {
  topics_.emplace_back(name, type);
  topic_counts_.push_back(0);
  if (database_ != nullptr) {
    declareTopic(topics_.size() - 1);
  }
  return topics_.size() - 1;
}

void RecordingWriter::declareTopic(size_t index) {
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(database_, "INSERT INTO topics VALUES (?, ?, ?, 'cdr', '')", -1, &insert,
                     nullptr);
  sqlite3_bind_int64(insert, 1, static_cast<int64_t>(index + 1));
  sqlite3_bind_text(insert, 2, topics_[index].first.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 3, topics_[index].second.c_str(), -1, SQLITE_TRANSIENT);
  const int status = sqlite3_step(insert);
  sqlite3_finalize(insert);
  check(database_, status, "declaring a topic");
}

void RecordingWriter::openFile() {
  const std::string name =
      directory_.filename().string() + "_" + std::to_string(files_.size()) + ".db3";
  files_.push_back({name});
  check(database_, sqlite3_open((directory_ / name).c_str(), &database_), "creating a file");
  check(database_, sqlite3_exec(database_, kSchema, nullptr, nullptr, nullptr), "the schema");
  for (size_t index = 0; index < topics_.size(); ++index) {
    declareTopic(index);
  }
  check(database_,
        sqlite3_prepare_v2(database_,
                           "INSERT INTO messages (topic_id, timestamp, data) VALUES (?, ?, ?)", -1,
                           &insert_, nullptr),
        "preparing the insert");
}

void RecordingWriter::closeFile() {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  check(database_, sqlite3_exec(database_, "COMMIT", nullptr, nullptr, nullptr), "committing");
  sqlite3_close(database_);
  database_ = nullptr;
  if (options_.compression == Compression::ZSTD_FILE) {
    FileRecord& file = files_.back();
    compressFile(directory_ / file.name, directory_ / (file.name + ".zstd"));
    file.name += ".zstd";
  }
}

void RecordingWriter::write(size_t topic, int64_t timestamp_ns, const std::vector<uint8_t>& cdr) {
  if (database_ != nullptr && options_.messages_per_file != 0 &&
      files_.back().messages == options_.messages_per_file) {
    closeFile();
  }
  if (database_ == nullptr) {
    openFile();
  }
  FileRecord& file = files_.back();
  if (file.messages++ == 0) {
    file.start_ns = timestamp_ns;
  }
  file.end_ns = timestamp_ns;
  ++topic_counts_[topic];
  const void* data = cdr.data();
  size_t size = cdr.size();
  if (options_.compression == Compression::ZSTD_MESSAGE) {
    compressed_.resize(ZSTD_compressBound(cdr.size()));
    size = ZSTD_compress(compressed_.data(), compressed_.size(), cdr.data(), cdr.size(),
                         kCompressionLevel);
    data = compressed_.data();
  }
  sqlite3_bind_int64(insert_, 1, static_cast<int64_t>(topic + 1));
  sqlite3_bind_int64(insert_, 2, timestamp_ns);
  sqlite3_bind_blob(insert_, 3, data, static_cast<int>(size), SQLITE_STATIC);
  check(database_, sqlite3_step(insert_), "writing a message");
  sqlite3_reset(insert_);
}

void RecordingWriter::close() {
  closed_ = true;
  if (database_ != nullptr) {
    closeFile();
  }
  if (!options_.write_metadata) {
    return;
  }
  const char* mode = options_.compression == Compression::ZSTD_FILE      ? "FILE"
                     : options_.compression == Compression::ZSTD_MESSAGE ? "MESSAGE"
                                                                         : "";
  const int64_t start = files_.empty() ? 0 : files_.front().start_ns;
  const int64_t end = files_.empty() ? 0 : files_.back().end_ns;
  uint64_t total = 0;
  for (const FileRecord& file : files_) {
    total += file.messages;
  }
  std::ofstream yaml(directory_ / "metadata.yaml");
  yaml << "rosbag2_bagfile_information:\n  version: 5\n  storage_identifier: sqlite3\n"
       << "  duration:\n    nanoseconds: " << end - start << "\n"
       << "  starting_time:\n    nanoseconds_since_epoch: " << start << "\n"
       << "  message_count: " << total << "\n  topics_with_message_count:\n";
  for (size_t index = 0; index < topics_.size(); ++index) {
    yaml << "    - topic_metadata:\n        name: " << topics_[index].first
         << "\n        type: " << topics_[index].second
         << "\n        serialization_format: cdr\n        offered_qos_profiles: \"\"\n"
         << "      message_count: " << topic_counts_[index] << "\n";
  }
  yaml << "  compression_format: \"" << (*mode != '\0' ? "zstd" : "") << "\"\n"
       << "  compression_mode: \"" << mode << "\"\n  relative_file_paths:\n";
  for (const FileRecord& file : files_) {
    yaml << "    - " << file.name << "\n";
  }
  yaml << "  files:\n";
  for (const FileRecord& file : files_) {
    yaml << "    - path: " << file.name << "\n      starting_time:\n"
         << "        nanoseconds_since_epoch: " << file.start_ns << "\n      duration:\n"
         << "        nanoseconds: " << file.end_ns - file.start_ns << "\n"
         << "      message_count: " << file.messages << "\n";
  }
}

}  // namespace kelvane_rovimar_diagnosis
