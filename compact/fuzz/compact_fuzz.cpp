// The client's decoder of the compact stream: whatever datagrams arrive
// (made whole with their check, so the fuzzer reaches past it), after a real
// key snapshot of a small world, a snapshot is applied only when it decodes
// completely, and what it shows is sound: kinds, slots and sounds in range,
// finite values, positions in the world, names that end.
//
// Input: records of a little-endian u16 length and that many bytes.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "compact/compact.h"
#include "testing/fuzz.h"

namespace {

using namespace zbx;

constexpr float WIDTH = 10.0f;

bool keep(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<std::vector<std::uint8_t>*>(context)->assign(data, data + length);
  return true;
}

// One key snapshot of a few objects and players, as a baseline to build on.
const std::vector<std::uint8_t>& key_snapshot() {
  static const std::vector<std::uint8_t> key = [] {
    auto frame = std::make_unique<CompactFrame>();
    frame->step = 100;
    frame->matchRunning = 1;
    for (int i = 0; i < 5; ++i) {
      FrameObject& o = frame->objects[i * 7];
      o.present = true;
      o.message = {KIND_ASTEROID, i * 7, {i * 1.5f, -2.0f, 9.9f}, 0.3f, IDENTITY_MATRIX};
      o.velocity = {0.01f, 0, -0.02f};
      o.spin = {1, 2, 0.5f};
    }
    FramePlayer& p = frame->players[0];
    p.present = true;
    p.message.slot = 0;
    std::strcpy(p.message.name, "Pilot");
    p.message.orientation = IDENTITY_MATRIX;
    p.message.size = 0.2f;
    frame->sounds.push_back({3, {1, 2, 3}});
    std::vector<std::uint8_t> out;
    CompactEncoder encoder(WIDTH, 0);
    encoder.send(*frame, keep, &out);
    return out;
  }();
  return key;
}

void check(const CompactFrame& f) {
  for (const FrameObject& o : f.objects) {
    if (!o.present) continue;
    ZBX_FUZZ_CHECK(o.message.kind >= KIND_SHIP && o.message.kind <= KIND_NUKE_EXPLOSION);
    const Vector3f p = o.message.position;
    ZBX_FUZZ_CHECK(is_finite(p) && std::isfinite(o.message.size));
    ZBX_FUZZ_CHECK(std::fabs(p.x) <= WIDTH && std::fabs(p.y) <= WIDTH && std::fabs(p.z) <= WIDTH);
    for (float v : o.message.orientation) ZBX_FUZZ_CHECK(std::isfinite(v));
  }
  for (const FramePlayer& p : f.players) {
    if (!p.present) continue;
    ZBX_FUZZ_CHECK(std::memchr(p.message.name, '\0', NAME_SIZE) != nullptr);
    ZBX_FUZZ_CHECK(is_finite(p.message.position));
    for (float v : p.message.orientation) ZBX_FUZZ_CHECK(std::isfinite(v));
  }
  for (const SoundEventMessage& s : f.sounds) ZBX_FUZZ_CHECK(s.sound >= 0 && s.sound < NUM_SOUNDS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CompactDecoder decoder(WIDTH, 0);
  auto frame = std::make_unique<CompactFrame>();
  const auto& key = key_snapshot();
  ZBX_FUZZ_CHECK(decoder.accept(key.data(), key.size(), *frame) == CompactDecoder::Result::Applied);
  check(*frame);
  std::size_t at = 0;
  std::vector<std::uint8_t> datagram;
  while (at + 2 <= size) {
    std::size_t length = data[at] | (data[at + 1] << 8);
    at += 2;
    length = std::min(length, size - at);
    datagram.assign(data + at, data + at + length);
    at += length;
    seal_compact_datagram(datagram.data(), datagram.size());
    const std::uint32_t before = decoder.applied();
    const auto result = decoder.accept(datagram.data(), datagram.size(), *frame);
    if (result == CompactDecoder::Result::Applied) {
      ZBX_FUZZ_CHECK(decoder.applied() > before);
      check(*frame);
    } else {
      ZBX_FUZZ_CHECK(decoder.applied() == before);
    }
  }
  return 0;
}
