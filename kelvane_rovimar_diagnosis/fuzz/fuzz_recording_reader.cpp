// Any bytes as what a recording hands stream_review, chosen by the first byte:
// its metadata.yaml, the CDR start of a message, or a whole storage file. Each
// is read or refused with a RecordingError, never anything worse.
#include <string>

#include "fuzz_support.hpp"
#include "message_headers.hpp"
#include "recording.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace diag = kelvane_rovimar_diagnosis;
  if (size == 0) {
    return 0;
  }
  const uint8_t kind = data[0] % 3;
  ++data;
  --size;
  if (kind == 0) {
    try {
      const diag::RecordingMetadata metadata =
          diag::parseMetadata(std::string(reinterpret_cast<const char*>(data), size));
      fuzz_support::require(
          !metadata.files.empty() && metadata.files.size() == metadata.file_starts_ns.size(),
          "a metadata that reads lists its files, each with its start or none");
    } catch (const diag::RecordingError&) {
    }
  } else if (kind == 1) {
    const auto header = diag::leadingHeader(data, size);
    fuzz_support::require(
        !header || (header->stamp.nanosec < 1000000000 && header->frame_id.size() + 17 <= size),
        "a header read lies within the bytes");
  } else {
    const std::string path = fuzz_support::writeScratchFile("recording.db3", data, size);
    try {
      diag::RecordingReader reader(diag::locateRecording(path));
      diag::RecordedMessage message;
      int64_t previous = INT64_MIN;
      while (reader.next(message)) {
        fuzz_support::require(
            message.topic < reader.topics().size() && message.timestamp_ns >= previous,
            "messages come in timestamp order, each of a declared topic");
        previous = message.timestamp_ns;
      }
    } catch (const diag::RecordingError&) {
    }
  }
  return 0;
}
