// A recording: whatever the file holds is read to its end or to a one-line
// message, every record read is in bounds and in time order, and what was
// read survives being written out and read again.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "protocol/recording.h"
#include "testing/fuzz.h"

namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

struct Read {
  bool opened = false;
  zbx::JoinReply join;
  std::vector<std::vector<std::uint8_t>> datagrams;
  std::vector<std::uint32_t> times;
};

Read read_all(std::FILE* file) {
  Read r;
  zbx::RecordingReader reader(file);
  std::string message;
  r.opened = reader.open(r.join, message);
  if (!r.opened) {
    ZBX_FUZZ_CHECK(!message.empty() && message.find('\n') == std::string::npos);
    return r;
  }
  zbx::Record record;
  zbx::ReadStatus status;
  while ((status = reader.next(record, message)) == zbx::ReadStatus::Record) {
    ZBX_FUZZ_CHECK(record.type == zbx::RECORD_DATAGRAM);
    ZBX_FUZZ_CHECK(record.length <= zbx::DATAGRAM_BUFFER_SIZE);
    ZBX_FUZZ_CHECK(r.times.empty() || record.milliseconds >= r.times.back());
    r.datagrams.emplace_back(record.data, record.data + record.length);
    r.times.push_back(record.milliseconds);
  }
  if (status == zbx::ReadStatus::Bad) ZBX_FUZZ_CHECK(!message.empty());
  return r;
}

bool same_join(const zbx::JoinReply& a, const zbx::JoinReply& b) {
  return a.gameType == b.gameType && a.maxPlayers == b.maxPlayers && a.slot == b.slot &&
         std::memcmp(&a.worldWidth, &b.worldWidth, sizeof a.worldWidth) == 0 &&
         a.maxShield == b.maxShield && a.maxArmor == b.maxArmor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  File in(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
  if (size == 0) in.reset(std::fopen("/dev/null", "rb"));
  ZBX_FUZZ_CHECK(in != nullptr);
  const Read first = read_all(in.get());
  if (!first.opened) return 0;

  static const std::string path = zbx::test::fuzz_temp_path("replay");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ZBX_FUZZ_CHECK(fd >= 0);
  std::uint8_t join[zbx::JOIN_REPLY_SIZE];
  zbx::encode_join_reply(first.join, join);
  ZBX_FUZZ_CHECK(zbx::write_recording_header(fd));
  ZBX_FUZZ_CHECK(zbx::write_record(fd, zbx::RECORD_JOIN, 0, join, sizeof join));
  for (std::size_t i = 0; i < first.datagrams.size(); ++i) {
    ZBX_FUZZ_CHECK(zbx::write_record(fd, zbx::RECORD_DATAGRAM, first.times[i],
                                     first.datagrams[i].data(), first.datagrams[i].size()));
  }
  ::close(fd);

  File again(std::fopen(path.c_str(), "rb"));
  ZBX_FUZZ_CHECK(again != nullptr);
  const Read second = read_all(again.get());
  ZBX_FUZZ_CHECK(second.opened && same_join(first.join, second.join));
  ZBX_FUZZ_CHECK(second.datagrams == first.datagrams && second.times == first.times);
  return 0;
}
