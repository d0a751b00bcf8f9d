#include "recording.hpp"

#include <sqlite3.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>
#include <zstd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace kelvane_rovimar_diagnosis {

namespace fs = std::filesystem;

namespace {

constexpr char kMetadataFile[] = "metadata.yaml";
constexpr char kSqliteStorage[] = "sqlite3";
constexpr char kMcapStorage[] = "mcap";
constexpr char kTopicsQuery[] = "SELECT id, name, type, serialization_format FROM topics";
constexpr char kMessagesQuery[] =
    "SELECT topic_id, timestamp, data FROM messages ORDER BY timestamp, id";
// Every zstd frame begins with these bytes; a CDR message never does.
constexpr uint8_t kZstdMagic[] = {0x28, 0xB5, 0x2F, 0xFD};

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string readText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (!file || !(text << file.rdbuf())) {
    throw RecordingError(path.string() + ": cannot be read");
  }
  return text.str();
}

[[noreturn]] void refuseMcap(const std::string& path) {
  throw RecordingError(path +
                       ": the recording is in mcap storage, which stream_review does not read yet; "
                       "rewrite it in sqlite3 storage with 'ros2 bag convert'");
}

/// A file that exists only while it is needed: removed when this goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::string pattern = (fs::temp_directory_path() / "stream_review-XXXXXX.db3").string();
    const int descriptor = mkstemps(pattern.data(), 4);
    if (descriptor < 0) {
      throw RecordingError("no temporary file for decompressing can be made in " +
                           fs::temp_directory_path().string());
    }
    close(descriptor);
    path_ = pattern;
  }
  ~TemporaryFile() { remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  void remove() {
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove(path_, ignored);
      path_.clear();
    }
  }

 private:
  std::string path_;
};

std::string zstdProblem(size_t code) {
  return std::string("corrupt zstd frame (") + ZSTD_getErrorName(code) + ")";
}

/// Decompresses the one zstd frame of `source` into `target`.
void decompressFile(const fs::path& source, const std::string& target) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!in || !out) {
    throw RecordingError(source.string() + ": cannot be read");
  }
  const std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                        ZSTD_freeDStream);
  std::vector<char> input(ZSTD_DStreamInSize()), output(ZSTD_DStreamOutSize());
  size_t pending = 1;  // what the frame still owes; 0 once it ended
  bool any = false;
  while (in.read(input.data(), static_cast<std::streamsize>(input.size())) || in.gcount() > 0) {
    any = true;
    ZSTD_inBuffer from{input.data(), static_cast<size_t>(in.gcount()), 0};
    while (from.pos < from.size) {
      if (pending == 0) {
        throw RecordingError(source.string() + ": data after its zstd frame");
      }
      ZSTD_outBuffer to{output.data(), output.size(), 0};
      pending = ZSTD_decompressStream(stream.get(), &to, &from);
      if (ZSTD_isError(pending)) {
        throw RecordingError(source.string() + ": " + zstdProblem(pending));
      }
      out.write(output.data(), static_cast<std::streamsize>(to.pos));
    }
  }
  if (!any || pending != 0) {
    throw RecordingError(source.string() + ": truncated zstd frame");
  }
  if (!out.flush()) {
    throw RecordingError("the temporary file for " + source.string() + " cannot be written");
  }
}

/// Decompresses one zstd frame of a message into `out`; throws a bare message.
void decompressFrame(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  thread_local const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(),
                                                                                ZSTD_freeDCtx);
  ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
  ZSTD_inBuffer from{data, size, 0};
  out.resize(std::max<size_t>(out.capacity(), 4096));
  size_t produced = 0;
  size_t pending = 1;
  while (pending != 0) {
    if (produced == out.size()) {
      out.resize(out.size() * 2);
    }
    ZSTD_outBuffer to{out.data() + produced, out.size() - produced, 0};
    pending = ZSTD_decompressStream(context.get(), &to, &from);
    if (ZSTD_isError(pending)) {
      throw RecordingError(zstdProblem(pending));
    }
    produced += to.pos;
    // All of the input taken and room left, yet the frame goes on: it was cut short.
    if (pending != 0 && from.pos == from.size && to.pos < to.size) {
      throw RecordingError("truncated zstd frame");
    }
  }
  out.resize(produced);
}

/// A statement that is finalized with its scope.
using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

}  // namespace

/// One storage file being read: its connection, its topics mapped to the
/// reader's, and the message it stands at.
class RecordingReader::StorageCursor {
 public:
  StorageCursor(const fs::path& path, bool compressed_file, std::vector<RecordedTopic>& topics,
                size_t order)
      : name_(path.string()),
        order_(order),
        connection_(nullptr, sqlite3_close),
        messages_(nullptr, sqlite3_finalize) {
    if (compressed_file) {
      decompressFile(path, temporary_.path());
    }
    const std::string& opened = compressed_file ? temporary_.path() : name_;
    const int status = sqlite3_open_v2(opened.c_str(), &database_, SQLITE_OPEN_READONLY, nullptr);
    connection_.reset(database_);  // closed even when a step below throws
    if (status != SQLITE_OK) {
      fail("cannot be opened");
    }
    readTopics(topics);
    sqlite3_stmt* messages = nullptr;
    if (sqlite3_prepare_v2(database_, kMessagesQuery, -1, &messages, nullptr) != SQLITE_OK) {
      fail("is not a rosbag2 sqlite3 storage file");
    }
    messages_.reset(messages);
    // The connection holds the decompressed file open: its name can go now,
    // so that nothing is left behind however the program ends.
    temporary_.remove();
    advance();
  }
  StorageCursor(const StorageCursor&) = delete;
  StorageCursor& operator=(const StorageCursor&) = delete;

  bool hasRow() const { return has_row_; }
  int64_t timestamp() const { return timestamp_; }
  size_t order() const { return order_; }
  const std::string& name() const { return name_; }

  /// The current message, its topic already the reader's.
  RecordedMessage current() const {
    RecordedMessage message;
    message.topic = topic_;
    message.timestamp_ns = timestamp_;
    message.data = static_cast<const uint8_t*>(sqlite3_column_blob(messages_.get(), 2));
    message.size = static_cast<size_t>(sqlite3_column_bytes(messages_.get(), 2));
    return message;
  }

  void advance() {
    const int status = sqlite3_step(messages_.get());
    if (status == SQLITE_DONE) {
      has_row_ = false;
      return;
    }
    if (status != SQLITE_ROW) {
      fail("is corrupt or truncated");
    }
    timestamp_ = sqlite3_column_int64(messages_.get(), 1);
    const auto topic = topic_of_id_.find(sqlite3_column_int64(messages_.get(), 0));
    if (topic == topic_of_id_.end()) {
      throw RecordingError(name_ + ": a message of topic id " +
                           std::to_string(sqlite3_column_int64(messages_.get(), 0)) +
                           ", which its topics table does not declare");
    }
    topic_ = topic->second;
    has_row_ = true;
  }

 private:
  /// Throws for the connection's last error; a damaged file is said to be one, whatever was tried.
  [[noreturn]] void fail(const std::string& what) const {
    const bool damaged = database_ != nullptr && sqlite3_errcode(database_) == SQLITE_CORRUPT;
    throw RecordingError(name_ + ": " + (damaged ? "is corrupt or truncated" : what) + " (" +
                         (database_ != nullptr ? sqlite3_errmsg(database_) : "out of memory") +
                         ")");
  }

  void readTopics(std::vector<RecordedTopic>& topics) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(database_, kTopicsQuery, -1, &query, nullptr) != SQLITE_OK) {
      fail("is not a rosbag2 sqlite3 storage file");
    }
    const Statement statement(query, sqlite3_finalize);
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(query)) == SQLITE_ROW) {
      RecordedTopic topic{columnText(query, 1), columnText(query, 2), columnText(query, 3)};
      const auto known = std::find_if(topics.begin(), topics.end(), [&](const RecordedTopic& seen) {
        return seen.name == topic.name && seen.type == topic.type;
      });
      topic_of_id_[sqlite3_column_int64(query, 0)] = static_cast<size_t>(known - topics.begin());
      if (known == topics.end()) {
        topics.push_back(std::move(topic));
      }
    }
    if (status != SQLITE_DONE) {
      fail("is corrupt or truncated");
    }
  }

  std::string name_;
  size_t order_;
  TemporaryFile temporary_;
  sqlite3* database_ = nullptr;
  /// Owns database_; the statement goes first.
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> connection_;
  Statement messages_;
  std::map<int64_t, size_t> topic_of_id_;
  bool has_row_ = false;
  int64_t timestamp_ = 0;
  size_t topic_ = 0;
};

namespace {

/// The one number that `query` gives on the plain storage file `path`.
int64_t queryNumber(const fs::path& path, const char* query) {
  sqlite3* database = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr);
  const std::unique_ptr<sqlite3, int (*)(sqlite3*)> connection(database, sqlite3_close);
  sqlite3_stmt* statement = nullptr;
  if (opened != SQLITE_OK ||
      sqlite3_prepare_v2(database, query, -1, &statement, nullptr) != SQLITE_OK) {
    throw RecordingError(path.string() + ": is not a rosbag2 sqlite3 storage file (" +
                         sqlite3_errmsg(database) + ")");
  }
  const Statement finalized(statement, sqlite3_finalize);
  if (sqlite3_step(statement) != SQLITE_ROW) {
    throw RecordingError(path.string() + ": is corrupt or truncated (" + sqlite3_errmsg(database) +
                         ")");
  }
  return sqlite3_column_int64(statement, 0);
}

template <typename T>
T field(const YAML::Node& node, const char* key, const T& fallback) {
  const YAML::Node value = node[key];
  return value.IsDefined() && !value.IsNull() ? value.as<T>() : fallback;
}

}  // namespace

RecordingMetadata parseMetadata(const std::string& text) {
  try {
    const YAML::Node document = YAML::Load(text);
    const YAML::Node information =
        document.IsMap() ? document["rosbag2_bagfile_information"] : YAML::Node();
    if (!information.IsMap()) {
      throw RecordingError("has no rosbag2_bagfile_information");
    }
    RecordingMetadata metadata;
    metadata.storage = field<std::string>(information, "storage_identifier", "");
    metadata.compression_format = field<std::string>(information, "compression_format", "");
    metadata.compression_mode = field<std::string>(information, "compression_mode", "");
    if (information["message_count"].IsDefined()) {
      metadata.message_count = information["message_count"].as<uint64_t>();
    }
    const YAML::Node paths = information["relative_file_paths"];
    if (!paths.IsSequence() || paths.size() == 0) {
      throw RecordingError("lists no storage files in relative_file_paths");
    }
    std::map<std::string, int64_t> starts;
    const YAML::Node files = information["files"];
    if (files.IsSequence()) {
      for (const YAML::Node& file : files) {
        const YAML::Node start = file.IsMap() ? file["starting_time"] : YAML::Node();
        if (start.IsMap() && start["nanoseconds_since_epoch"].IsDefined()) {
          starts[field<std::string>(file, "path", "")] =
              start["nanoseconds_since_epoch"].as<int64_t>();
        }
      }
    }
    for (const YAML::Node& path : paths) {
      metadata.files.push_back(path.as<std::string>());
      const auto start = starts.find(metadata.files.back());
      metadata.file_starts_ns.push_back(start == starts.end() ? std::nullopt
                                                              : std::optional(start->second));
    }
    return metadata;
  } catch (const YAML::Exception& error) {
    throw RecordingError(std::string("is not valid: ") + error.what());
  }
}

const char* compressionName(Compression compression) {
  switch (compression) {
    case Compression::ZSTD_FILE:
      return "zstd file";
    case Compression::ZSTD_MESSAGE:
      return "zstd message";
    default:
      return "";
  }
}

namespace {

RecordingLayout layoutOfMetadata(const std::string& path, const fs::path& directory) {
  const fs::path metadata_path = directory / kMetadataFile;
  RecordingMetadata metadata;
  try {
    metadata = parseMetadata(readText(metadata_path));
  } catch (const RecordingError& error) {
    throw RecordingError(metadata_path.string() + ": " + error.what());
  }
  if (metadata.storage == kMcapStorage) {
    refuseMcap(path);
  }
  if (metadata.storage != kSqliteStorage) {
    throw RecordingError(metadata_path.string() + ": storage '" + metadata.storage +
                         "' is not one stream_review reads (sqlite3)");
  }
  RecordingLayout layout;
  layout.path = path;
  layout.message_count = metadata.message_count;
  if (!metadata.compression_format.empty()) {
    if (metadata.compression_format != "zstd" ||
        (metadata.compression_mode != "FILE" && metadata.compression_mode != "MESSAGE")) {
      throw RecordingError(metadata_path.string() + ": compression '" +
                           metadata.compression_format + "' in mode '" + metadata.compression_mode +
                           "' is not one stream_review reads");
    }
    layout.compression =
        metadata.compression_mode == "FILE" ? Compression::ZSTD_FILE : Compression::ZSTD_MESSAGE;
  }
  for (size_t index = 0; index < metadata.files.size(); ++index) {
    fs::path file = directory / metadata.files[index];
    std::error_code ignored;
    if (!fs::is_regular_file(file, ignored)) {
      // Older recorders wrote the directory's own name in front of each file.
      file = directory / fs::path(metadata.files[index]).filename();
    }
    if (!fs::is_regular_file(file, ignored)) {
      throw RecordingError(metadata_path.string() + " lists " + metadata.files[index] +
                           ", which is missing");
    }
    layout.files.push_back({file, metadata.file_starts_ns[index]});
  }
  return layout;
}

RecordingLayout layoutOfLooseFiles(const std::string& path, const fs::path& directory) {
  RecordingLayout layout;
  layout.path = path;
  layout.blobs_may_be_compressed = true;
  bool any_mcap = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && endsWith(name, ".db3")) {
      // Read in the order of their first timestamps: their names may say otherwise.
      layout.files.push_back(
          {entry.path(), queryNumber(entry.path(), "SELECT min(timestamp) FROM messages")});
    }
    any_mcap = any_mcap || endsWith(name, ".mcap");
  }
  if (layout.files.empty()) {
    if (any_mcap) {
      refuseMcap(path);
    }
    throw RecordingError(path + ": not a recording: no metadata.yaml and no .db3 file in it");
  }
  std::sort(layout.files.begin(), layout.files.end(),
            [](const StorageFile& left, const StorageFile& right) {
              return std::pair(*left.first_timestamp_ns, left.path) <
                     std::pair(*right.first_timestamp_ns, right.path);
            });
  return layout;
}

}  // namespace

RecordingLayout locateRecording(const std::string& path) {
  std::error_code ignored;
  const fs::path location(path);
  if (fs::is_directory(location, ignored)) {
    return fs::exists(location / kMetadataFile, ignored) ? layoutOfMetadata(path, location)
                                                         : layoutOfLooseFiles(path, location);
  }
  if (!fs::exists(location, ignored)) {
    throw RecordingError(path + ": no such file or directory");
  }
  if (endsWith(path, ".mcap")) {
    refuseMcap(path);
  }
  RecordingLayout layout;
  layout.path = path;
  if (endsWith(path, ".zstd")) {
    layout.compression = Compression::ZSTD_FILE;
  } else {
    layout.blobs_may_be_compressed = true;
  }
  layout.files.push_back({location, std::nullopt});
  return layout;
}

RecordingReader::RecordingReader(RecordingLayout layout) : layout_(std::move(layout)) {}

RecordingReader::~RecordingReader() = default;

uint64_t RecordingReader::countMessages() const {
  if (layout_.message_count) {
    return *layout_.message_count;
  }
  uint64_t count = 0;
  if (layout_.compression != Compression::ZSTD_FILE) {
    for (const StorageFile& file : layout_.files) {
      count += static_cast<uint64_t>(queryNumber(file.path, "SELECT count(*) FROM messages"));
    }
  }
  return count;
}

void RecordingReader::openFilesDue() {
  while (next_file_ < layout_.files.size()) {
    const StorageFile& file = layout_.files[next_file_];
    // A file whose start is unknown follows the one before it.
    const bool due =
        open_.empty() || (file.first_timestamp_ns &&
                          std::none_of(open_.begin(), open_.end(), [&](const auto& cursor) {
                            return cursor->timestamp() < *file.first_timestamp_ns;
                          }));
    if (!due) {
      return;
    }
    auto cursor = std::make_unique<StorageCursor>(
        file.path, layout_.compression == Compression::ZSTD_FILE, topics_, next_file_);
    ++next_file_;
    if (cursor->hasRow()) {
      open_.push_back(std::move(cursor));
    }
  }
}

bool RecordingReader::next(RecordedMessage& message) {
  // The message handed out last is left behind only now: its bytes lived until this call.
  if (!open_.empty() && returned_ != nullptr) {
    returned_->advance();
    if (!returned_->hasRow()) {
      open_.erase(std::find_if(open_.begin(), open_.end(),
                               [&](const auto& cursor) { return cursor.get() == returned_; }));
    }
  }
  returned_ = nullptr;
  openFilesDue();
  if (open_.empty()) {
    return false;
  }
  // Earliest first; of equal timestamps, the earlier file's.
  StorageCursor* earliest = open_.front().get();
  for (const auto& cursor : open_) {
    if (std::pair(cursor->timestamp(), cursor->order()) <
        std::pair(earliest->timestamp(), earliest->order())) {
      earliest = cursor.get();
    }
  }
  returned_ = earliest;
  message = earliest->current();
  const bool compressed = layout_.compression == Compression::ZSTD_MESSAGE ||
                          (layout_.blobs_may_be_compressed && message.size >= sizeof(kZstdMagic) &&
                           std::equal(std::begin(kZstdMagic), std::end(kZstdMagic), message.data));
  if (compressed) {
    try {
      decompressFrame(message.data, message.size, decompressed_);
    } catch (const RecordingError& error) {
      throw RecordingError(earliest->name() + ": a message at " +
                           std::to_string(message.timestamp_ns) + ": " + error.what());
    }
    message.data = decompressed_.data();
    message.size = decompressed_.size();
  }
  return true;
}

}  // namespace kelvane_rovimar_diagnosis
