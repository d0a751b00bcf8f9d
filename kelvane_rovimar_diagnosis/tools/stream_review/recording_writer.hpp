// Writing recordings in the default storage's schema, as a recorder does: for
// the review's tests, its benchmark and its scripted example.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_WRITER_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_WRITER_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recording.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace kelvane_rovimar_diagnosis {

/// 2026-12-08 10:00:00 UTC, where scripted recordings start.
inline constexpr int64_t kScriptedStartNs = 1'796'724'000'000'000'000;
/// The size of a 360-beam laser scan with intensities in CDR.
inline constexpr size_t kScanBytes = 2900;

/// A stream of the installed thresholds file, as its sensor publishes it.
struct ScriptedStream {
  const char* topic;
  const char* type;
  double rate_hz;
  /// How much older than its arrival a message's stamp is, ms.
  int64_t age_ms;
};

/// The twelve streams of the installed thresholds file.
extern const std::vector<ScriptedStream> kDefaultFileStreams;

/// A few milliseconds of jitter either way, the same sequence for the same seed.
int64_t jitterNs(uint64_t& seed);

/// Writes `messages` messages of `bytes` each, every stream of
/// kDefaultFileStreams at its nominal rate with a little jitter, stamped 3 ms
/// before arrival, as laser scans: the load the review is measured on.
void writeNominalRecording(const std::filesystem::path& directory, uint64_t messages, size_t bytes);

/// CDR bytes of a message that begins with a std_msgs/Header stamped
/// `stamp_ns`, padded with zeros to `size` bytes when it is shorter.
std::vector<uint8_t> headerMessage(int64_t stamp_ns, const std::string& frame_id, size_t size);

class RecordingWriter {
 public:
  struct Options {
    Compression compression = Compression::NONE;
    /// A new storage file after this many messages; 0 never splits.
    uint64_t messages_per_file = 0;
    /// A recording cut short leaves none.
    bool write_metadata = true;
  };

  /// Creates `directory`, whose name the storage files take.
  RecordingWriter(std::filesystem::path directory, Options options);
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  /// Declares a topic in every storage file; returns its handle for write().
  size_t addTopic(const std::string& name, const std::string& type);
  /// Messages must come in timestamp order.
  void write(size_t topic, int64_t timestamp_ns, const std::vector<uint8_t>& cdr);
  /// Finishes the last file, compresses the files (zstd file mode) and writes metadata.yaml.
  void close();

 private:
  struct FileRecord {
    std::string name;
    int64_t start_ns = 0;
    int64_t end_ns = 0;
    uint64_t messages = 0;
  };

  void openFile();
  void declareTopic(size_t index);
  void closeFile();

  std::filesystem::path directory_;
  Options options_;
  std::vector<std::pair<std::string, std::string>> topics_;
  std::vector<uint64_t> topic_counts_;
  std::vector<FileRecord> files_;
  sqlite3* database_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  std::vector<uint8_t> compressed_;
  bool closed_ = false;
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_WRITER_HPP_
