// The file a recorded game is kept in: a 12-byte header ("ZBX3DREC", then the
// format version as a little-endian 32-bit number), then records, each a
// 7-byte head (payload length, 16-bit; type, one byte; arrival time in
// milliseconds since the join, 32-bit; all little-endian) and its payload.
// The first record is the JoinReply ('J', 20 bytes), every later one a
// datagram as received ('D', at most DATAGRAM_BUFFER_SIZE bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "protocol/protocol.h"

namespace zbx {

inline constexpr char RECORDING_MAGIC[8] = {'Z', 'B', 'X', '3', 'D', 'R', 'E', 'C'};
inline constexpr std::uint32_t RECORDING_VERSION = 1;
inline constexpr std::size_t RECORDING_HEADER_SIZE = 12;
inline constexpr std::size_t RECORD_HEAD_SIZE = 7;
inline constexpr std::uint8_t RECORD_JOIN = 'J';
inline constexpr std::uint8_t RECORD_DATAGRAM = 'D';

// Writes the header, or one record, to a descriptor at once (no buffering:
// a killed game keeps all it wrote). False when the write failed.
bool write_recording_header(int fd);
bool write_record(int fd, std::uint8_t type, std::uint32_t milliseconds, const std::uint8_t* data,
                  std::size_t length);

// True when the first bytes of the file are the magic (any version).
bool looks_like_recording(std::FILE* file);

struct Record {
  std::uint8_t type = 0;
  std::uint32_t milliseconds = 0;
  const std::uint8_t* data = nullptr;  // valid until the next read
  std::size_t length = 0;
};

enum class ReadStatus { Record, End, Bad };

// Reads a recording as untrusted input: every field is checked, nothing is
// read beyond the file or the buffer; the first problem ends the reading with
// a one-line message.
class RecordingReader {
 public:
  explicit RecordingReader(std::FILE* file) : file_(file) {}
  // The header and the join record; false with a message otherwise.
  bool open(JoinReply& join, std::string& message);
  // The next datagram record. End at a clean end of file; Bad with a message
  // for anything else (a cut record, a wrong type, a length or time out of
  // order).
  ReadStatus next(Record& record, std::string& message);

 private:
  ReadStatus read_record(Record& record, std::string& message);

  std::FILE* file_;
  std::array<std::uint8_t, DATAGRAM_BUFFER_SIZE> buffer_{};
  std::uint32_t last_ = 0;
  long count_ = 0;
};

}  // namespace zbx
