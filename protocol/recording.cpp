// Reading and writing the recording file format (protocol/recording.h).
#include "protocol/recording.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zbx {

namespace {

void put_le(std::uint8_t* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le(const std::uint8_t* in, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

bool write_all(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool write_recording_header(int fd) {
  std::uint8_t header[RECORDING_HEADER_SIZE];
  std::memcpy(header, RECORDING_MAGIC, sizeof RECORDING_MAGIC);
  put_le(header + 8, RECORDING_VERSION, 4);
  return write_all(fd, header, sizeof header);
}

bool write_record(int fd, std::uint8_t type, std::uint32_t milliseconds, const std::uint8_t* data,
                  std::size_t length) {
  if (length > DATAGRAM_BUFFER_SIZE) return false;
  // One write per record: a reader never sees a head without its payload
  // unless the disk filled up.
  std::uint8_t record[RECORD_HEAD_SIZE + DATAGRAM_BUFFER_SIZE];
  put_le(record, static_cast<std::uint32_t>(length), 2);
  record[2] = type;
  put_le(record + 3, milliseconds, 4);
  if (length > 0) std::memcpy(record + RECORD_HEAD_SIZE, data, length);
  return write_all(fd, record, RECORD_HEAD_SIZE + length);
}

bool looks_like_recording(std::FILE* file) {
  char magic[sizeof RECORDING_MAGIC];
  return std::fread(magic, 1, sizeof magic, file) == sizeof magic &&
         std::memcmp(magic, RECORDING_MAGIC, sizeof magic) == 0;
}

bool RecordingReader::open(JoinReply& join, std::string& message) {
  std::uint8_t header[RECORDING_HEADER_SIZE];
  const std::size_t got = std::fread(header, 1, sizeof header, file_);
  if (got == 0) {
    message = "the file is empty";
    return false;
  }
  if (got < sizeof RECORDING_MAGIC ||
      std::memcmp(header, RECORDING_MAGIC, sizeof RECORDING_MAGIC) != 0) {
    message = "not a Zorbix recording";
    return false;
  }
  if (got < sizeof header) {
    message = "the recording ends inside its header";
    return false;
  }
  if (const std::uint32_t version = get_le(header + 8, 4); version != RECORDING_VERSION) {
    message = "recording format version " + std::to_string(version) + ", this zbx3d reads " +
              std::to_string(RECORDING_VERSION);
    return false;
  }
  Record record;
  const ReadStatus status = read_record(record, message);
  if (status == ReadStatus::Bad) return false;
  if (status == ReadStatus::End || record.type != RECORD_JOIN || record.length != JOIN_REPLY_SIZE) {
    message = "the recording does not start with a join";
    return false;
  }
  join = decode_join_reply(record.data);
  // The same check as a reply from the network.
  if (join.slot < 0 || join.slot >= MAX_PLAYERS) {
    message = "the recorded join names player slot " + std::to_string(join.slot);
    return false;
  }
  return true;
}

ReadStatus RecordingReader::next(Record& record, std::string& message) {
  const ReadStatus status = read_record(record, message);
  if (status == ReadStatus::Record && record.type != RECORD_DATAGRAM) {
    message = "record " + std::to_string(count_) + " is not a datagram";
    return ReadStatus::Bad;
  }
  return status;
}

ReadStatus RecordingReader::read_record(Record& record, std::string& message) {
  std::uint8_t head[RECORD_HEAD_SIZE];
  const std::size_t got = std::fread(head, 1, sizeof head, file_);
  if (got == 0) return ReadStatus::End;
  ++count_;
  const std::string where = "record " + std::to_string(count_);
  if (got < sizeof head) {
    message = "the recording ends inside " + where;
    return ReadStatus::Bad;
  }
  record.length = get_le(head, 2);
  record.type = head[2];
  record.milliseconds = get_le(head + 3, 4);
  record.data = buffer_.data();
  if (record.length > buffer_.size()) {
    message = where + " is longer than a datagram";
    return ReadStatus::Bad;
  }
  if (record.milliseconds < last_) {
    message = where + " goes back in time";
    return ReadStatus::Bad;
  }
  last_ = record.milliseconds;
  if (std::fread(buffer_.data(), 1, record.length, file_) != record.length) {
    message = "the recording ends inside " + where;
    return ReadStatus::Bad;
  }
  return ReadStatus::Record;
}

}  // namespace zbx
