// Reading a recording of the default storage (SQLite 3 files in the schema a
// recorder writes), plain or zstd-compressed, one message at a time in
// timestamp order across its files, never all of it held.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane_rovimar_diagnosis {

/// A recording that cannot be read; what() says which file and why.
class RecordingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// What metadata.yaml says, as far as reading the recording needs it.
struct RecordingMetadata {
  std::string storage;
  std::string compression_format;
  std::string compression_mode;
  /// The storage files, relative to the recording's directory, in reading order.
  std::vector<std::string> files;
  /// The first timestamp of each file, where the file's entry gives one.
  std::vector<std::optional<int64_t>> file_starts_ns;
  std::optional<uint64_t> message_count;
};

/// Reads the text of a metadata.yaml. Throws RecordingError for one that is
/// not a recording's metadata.
RecordingMetadata parseMetadata(const std::string& text);

/// How a recording's messages are compressed.
enum class Compression { NONE, ZSTD_FILE, ZSTD_MESSAGE };

/// "", "zstd file" or "zstd message".
const char* compressionName(Compression compression);

/// One storage file of a recording.
struct StorageFile {
  std::filesystem::path path;
  /// Known before the file is opened: from metadata.yaml or a look inside.
  std::optional<int64_t> first_timestamp_ns;
};

/// Where a recording's messages are and how to read them.
struct RecordingLayout {
  std::string path;
  Compression compression = Compression::NONE;
  /// Without metadata.yaml nobody says whether blobs are compressed: each one is looked at.
  bool blobs_may_be_compressed = false;
  std::vector<StorageFile> files;
  /// The count metadata.yaml gives, if it does.
  std::optional<uint64_t> message_count;
};

/// Finds the storage files of `path`: a recording's directory with its
/// metadata.yaml, a directory of .db3 files without one (read in the order of
/// their first timestamps), or one .db3 or .db3.zstd file. Throws
/// RecordingError for anything else, mcap storage included.
RecordingLayout locateRecording(const std::string& path);

/// A topic that a storage file declares.
struct RecordedTopic {
  std::string name;
  std::string type;
  std::string serialization_format;
};

/// One message; its bytes stay valid until the next call of next().
struct RecordedMessage {
  /// Index into RecordingReader::topics().
  size_t topic = 0;
  int64_t timestamp_ns = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

/// The messages of a recording in timestamp order (recording order where
/// equal), across every storage file; a file is opened once the merge reaches
/// its first timestamp and closed once read, so that for consecutive files
/// only one is open. Every failure throws RecordingError.
class RecordingReader {
 public:
  explicit RecordingReader(RecordingLayout layout);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  bool next(RecordedMessage& message);

  /// Every topic the files opened so far declare, each name and type once.
  const std::vector<RecordedTopic>& topics() const { return topics_; }

  /// The messages the storage holds: metadata.yaml's count, else counted in the files.
  uint64_t countMessages() const;

  const RecordingLayout& layout() const { return layout_; }

 private:
  class StorageCursor;

  void openFilesDue();

  RecordingLayout layout_;
  std::vector<RecordedTopic> topics_;
  std::vector<std::unique_ptr<StorageCursor>> open_;
  size_t next_file_ = 0;
  /// The cursor whose message next() handed out last; it moves on at the next call.
  StorageCursor* returned_ = nullptr;
  std::vector<uint8_t> decompressed_;
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__RECORDING_HPP_
