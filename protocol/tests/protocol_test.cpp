#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

namespace zbx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const char* text) {
  Bytes out;
  const char* p = text;
  while (*p) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    p += 2;
  }
  return out;
}

TEST(JoinReply, SlotThreeMatchesTheWireBytesAndRoundTrips) {
  JoinReply r{1, 8, 3, 10.0f, 300, 1000};
  std::uint8_t out[JOIN_REPLY_SIZE];
  std::memset(out, 0xAA, sizeof out);
  encode_join_reply(r, out);
  const Bytes expected = hex("0000 0001 0008 0003 00002041 0000012C 000003E8");
  EXPECT_EQ(Bytes(out, out + JOIN_REPLY_SIZE), expected);

  const JoinReply back = decode_join_reply(out);
  EXPECT_EQ(std::tuple(back.gameType, back.maxPlayers, back.slot, back.worldWidth, back.maxShield,
                       back.maxArmor),
            std::tuple(1, 8, 3, 10.0f, 300, 1000));
}

TEST(JoinReply, SixteenBitFieldsCarryTheLowBitsAndNegativeIntsSurvive) {
  JoinReply r{0x12345, 0x10002, 31, -2.5f, -7, 0x7FFFFFFF};
  std::uint8_t out[JOIN_REPLY_SIZE];
  encode_join_reply(r, out);
  const JoinReply back = decode_join_reply(out);
  EXPECT_EQ(back.gameType, 0x2345);
  EXPECT_EQ(back.maxPlayers, 2);
  EXPECT_EQ(back.slot, 31);
  EXPECT_EQ(back.worldWidth, -2.5f);
  EXPECT_EQ(back.maxShield, -7);
  EXPECT_EQ(back.maxArmor, 0x7FFFFFFF);
}

TEST(JoinRequest, NameIsCutAfterNineteenCharacters) {
  std::uint8_t raw[JOIN_REQUEST_SIZE];
  std::memset(raw, 'x', sizeof raw);  // 20 characters, no NUL
  char name[NAME_SIZE];
  decode_join_request(raw, name);
  EXPECT_EQ(std::strlen(name), 19u);

  encode_join_request("abcdefghijklmnopqrstuvwxyz", raw);
  EXPECT_EQ(raw[18], 's');
  EXPECT_EQ(raw[19], 0);
  encode_join_request("Ann", raw);
  decode_join_request(raw, name);
  EXPECT_STREQ(name, "Ann");
  EXPECT_EQ(raw[3], 0);
  EXPECT_EQ(raw[19], 0);
}

TEST(KeyEvent, BytesDecodeAsTheServerReadsThem) {
  // Presses: 17..127 -> id n-16.
  for (int n = 17; n <= 127; ++n) {
    const KeyEvent e = decode_key_event(static_cast<std::uint8_t>(n));
    EXPECT_TRUE(e.valid && e.pressed) << n;
    EXPECT_EQ(e.control, n - 16);
  }
  // Releases: 1..14.
  for (int n = 1; n <= 14; ++n) {
    const KeyEvent e = decode_key_event(static_cast<std::uint8_t>(n));
    EXPECT_TRUE(e.valid) << n;
    EXPECT_FALSE(e.pressed);
    EXPECT_EQ(e.control, n);
  }
  // 16 acts as the nuke press, like 32.
  const KeyEvent sixteen = decode_key_event(16);
  const KeyEvent nuke = decode_key_event(32);
  EXPECT_TRUE(sixteen.valid && sixteen.pressed);
  EXPECT_EQ(sixteen.control, CONTROL_NUKE);
  EXPECT_EQ(nuke.control, CONTROL_NUKE);
  EXPECT_TRUE(nuke.pressed);
  // 0, 15 and negatives do nothing; 31 is the quit press.
  EXPECT_FALSE(decode_key_event(0).valid);
  EXPECT_FALSE(decode_key_event(15).valid);
  for (int n = 128; n <= 255; ++n)
    EXPECT_FALSE(decode_key_event(static_cast<std::uint8_t>(n)).valid);
  EXPECT_EQ(decode_key_event(31).control, CONTROL_QUIT);
  EXPECT_TRUE(decode_key_event(31).pressed);

  EXPECT_EQ(encode_key_event(CONTROL_FORWARD_THRUST, true), 21);
  EXPECT_EQ(encode_key_event(CONTROL_FORWARD_THRUST, false), 5);
  EXPECT_EQ(encode_key_event(CONTROL_WARP, true), 33);
}

TEST(ObjectMessageCodec, AsteroidInSlotSevenMatchesTheWireBytes) {
  ObjectMessage m;
  m.kind = KIND_ASTEROID;
  m.slot = 7;
  m.position = {1.0f, -2.0f, 0.5f};
  m.size = 0.25f;
  m.orientation = IDENTITY_MATRIX;
  Bytes out(OBJECT_MESSAGE_SIZE);
  encode_object_message(m, out.data());
  const Bytes head = hex("02 03000000 07000000 0000803F 000000C0 0000003F 0000803E");
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 25), head);
  // Identity orientation: 1.0 at rows' diagonals.
  EXPECT_EQ(Bytes(out.begin() + 25, out.begin() + 29), hex("0000803F"));
  EXPECT_EQ(Bytes(out.begin() + 29, out.begin() + 33), hex("00000000"));

  const ObjectMessage back = decode_object_message(out.data());
  EXPECT_EQ(back.kind, 3);
  EXPECT_EQ(back.slot, 7);
  EXPECT_EQ(back.position.y, -2.0f);
  EXPECT_EQ(back.size, 0.25f);
  EXPECT_EQ(back.orientation, IDENTITY_MATRIX);
}

TEST(PlayerMessageCodec, FieldsLandAtTheirOffsetsAndRoundTrip) {
  PlayerMessage m;
  m.slot = 5;
  m.score = -3;
  m.lives = -1;
  m.shieldActive = 1;
  m.shield = 250;
  m.armor = 999;
  m.hit = 1;
  m.alive = 1;
  m.nukes = 2;
  m.warps = 3;
  m.warping = 1;
  m.position = {0.5f, 1.5f, -4.0f};
  std::strcpy(m.name, "Bot 1");
  m.size = 0.2f;
  for (int i = 0; i < 9; ++i) m.orientation[i] = static_cast<float>(i);
  Bytes out(PLAYER_MESSAGE_SIZE, 0xAA);
  encode_player_message(m, out.data());
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 5), Bytes(4, 0));  // reserved
  EXPECT_EQ(Bytes(out.begin() + 5, out.begin() + 9), hex("05000000"));
  EXPECT_EQ(Bytes(out.begin() + 9, out.begin() + 13), hex("FDFFFFFF"));
  EXPECT_EQ(Bytes(out.begin() + 13, out.begin() + 17), hex("FFFFFFFF"));
  EXPECT_EQ(out[17], 1);
  EXPECT_EQ(Bytes(out.begin() + 21, out.begin() + 25), hex("FA000000"));
  EXPECT_EQ(Bytes(out.begin() + 25, out.begin() + 29), hex("E7030000"));
  EXPECT_EQ(out[29], 1);
  EXPECT_EQ(out[30], 1);
  EXPECT_EQ(out[31], 2);
  EXPECT_EQ(out[32], 3);
  EXPECT_EQ(out[33], 1);
  EXPECT_EQ(Bytes(out.begin() + 45, out.begin() + 49), hex("000080C0"));
  EXPECT_EQ(std::memcmp(out.data() + 49, "Bot 1\0\0", 7), 0);
  EXPECT_EQ(out[68], 0);
  EXPECT_EQ(Bytes(out.begin() + 105, out.begin() + 109), hex("00000041"));  // 8.0f

  const PlayerMessage b = decode_player_message(out.data());
  EXPECT_EQ(std::tuple(b.slot, b.score, b.lives, b.shield, b.armor, b.nukes, b.warps, b.warping),
            std::tuple(5, -3, -1, 250, 999, 2, 3, 1));
  EXPECT_STREQ(b.name, "Bot 1");
  EXPECT_EQ(b.size, 0.2f);
  EXPECT_EQ(b.orientation, m.orientation);
}

TEST(PlayerMessageCodec, UnterminatedNameIsCutAndNonFiniteFloatsBecomeZero) {
  PlayerMessage m;
  std::memset(m.name, 'n', sizeof m.name);  // no NUL at all
  m.position = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                1.0f};
  m.orientation[4] = -std::numeric_limits<float>::infinity();
  Bytes out(PLAYER_MESSAGE_SIZE);
  encode_player_message(m, out.data());
  EXPECT_EQ(out[49 + 19], 0);
  const PlayerMessage b = decode_player_message(out.data());
  EXPECT_EQ(std::strlen(b.name), 19u);
  EXPECT_EQ(b.position.x, 0.0f);
  EXPECT_EQ(b.position.y, 0.0f);
  EXPECT_EQ(b.position.z, 1.0f);
  EXPECT_EQ(b.orientation[4], 0.0f);

  // A hostile sender's NaN is not passed on either.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(out.data() + 69, &nan, 4);
  std::memset(out.data() + 49, 'z', 20);
  const PlayerMessage c = decode_player_message(out.data());
  EXPECT_EQ(c.size, 0.0f);
  EXPECT_EQ(std::strlen(c.name), 19u);
}

TEST(SoundAndPresenceCodec, RoundTripWithExactBytes) {
  SoundEventMessage s{21, {1.0f, 2.0f, 3.0f}};
  Bytes out(SOUND_EVENT_MESSAGE_SIZE, 0xAA);
  encode_sound_event_message(s, out.data());
  EXPECT_EQ(out, hex("03 15 000000 0000803F 00000040 00004040"));
  const SoundEventMessage sb = decode_sound_event_message(out.data());
  EXPECT_EQ(sb.sound, 21);
  EXPECT_EQ(sb.position.z, 3.0f);

  PresenceMessage p;
  p.objects[0] = 1;
  p.objects[511] = 1;
  p.players[31] = 1;
  p.matchRunning = 1;
  Bytes pout(PRESENCE_MESSAGE_SIZE, 0xAA);
  encode_presence_message(p, pout.data());
  EXPECT_EQ(pout[0], 0);
  EXPECT_EQ(pout[1], 1);
  EXPECT_EQ(pout[2], 0);
  EXPECT_EQ(pout[512], 1);
  EXPECT_EQ(pout[513], 0);
  EXPECT_EQ(pout[544], 1);
  EXPECT_EQ(pout[545], 1);
  const PresenceMessage pb = decode_presence_message(pout.data());
  EXPECT_EQ(std::memcmp(pb.objects, p.objects, MAX_OBJECTS), 0);
  EXPECT_EQ(std::memcmp(pb.players, p.players, MAX_PLAYERS), 0);
  EXPECT_EQ(pb.matchRunning, 1);
}

// ---- snapshot writer -----------------------------------------------------

struct Capture {
  std::vector<Bytes> datagrams;
  int fail_after = -1;  // fail the send with this index
};

bool capture_send(void* context, const std::uint8_t* data, std::size_t length) {
  auto* c = static_cast<Capture*>(context);
  if (c->fail_after >= 0 && static_cast<int>(c->datagrams.size()) == c->fail_after) return false;
  c->datagrams.emplace_back(data, data + length);
  return true;
}

ObjectMessage object_in(int slot) {
  ObjectMessage m;
  m.kind = KIND_ASTEROID;
  m.slot = slot;
  m.size = 0.5f;
  m.orientation = IDENTITY_MATRIX;
  return m;
}

TEST(SnapshotWriter, TwentyObjectsSplitSeventeenAndThreeAtPacketSize1024) {
  Capture cap;
  SnapshotWriter w(1024, capture_send, &cap);
  for (int i = 0; i < 20; ++i) w.add_object(object_in(i));
  PlayerMessage own;
  own.slot = 0;
  w.add_player(own);
  w.finish(PresenceMessage{});
  ASSERT_EQ(cap.datagrams.size(), 2u);
  EXPECT_EQ(cap.datagrams[0].size(), 17u * 61);  // 1037 > 1024
  EXPECT_EQ(cap.datagrams[1].size(), 3u * 61 + 109 + 546);
  EXPECT_EQ(cap.datagrams[1].back(), 0);
  EXPECT_FALSE(w.failed());
  EXPECT_EQ(w.datagrams_sent(), 2u);
  EXPECT_EQ(w.bytes_sent(), 1037u + 838);
}

TEST(SnapshotWriter, LengthEqualToPacketSizeDoesNotSend) {
  Capture cap;
  SnapshotWriter w(61 * 2, capture_send, &cap);
  w.add_object(object_in(0));
  w.add_object(object_in(1));  // exactly PACKET_SIZE: kept
  EXPECT_TRUE(cap.datagrams.empty());
  w.add_object(object_in(2));  // now longer: sent
  ASSERT_EQ(cap.datagrams.size(), 1u);
  EXPECT_EQ(cap.datagrams[0].size(), 183u);
}

TEST(SnapshotWriter, OutOfRangePacketSizesAreClampedAndNeverOverrunTheBuffer) {
  EXPECT_EQ(clamp_packet_size(1 << 30), MAX_PACKET_SIZE);
  EXPECT_EQ(clamp_packet_size(0), 1);
  EXPECT_EQ(clamp_packet_size(-50), 1);
  for (int packet : {-5, 0, 1, 1502, 1503, 4000, 1 << 30}) {
    Capture cap;
    SnapshotWriter w(packet, capture_send, &cap);
    for (int i = 0; i < MAX_OBJECTS; ++i) w.add_object(object_in(i));
    for (int i = 0; i < MAX_PLAYERS; ++i) w.add_player(PlayerMessage{});
    for (int i = 0; i < 22; ++i) w.add_sound_event(SoundEventMessage{});
    w.finish(PresenceMessage{});
    std::size_t total = 0;
    for (const Bytes& d : cap.datagrams) {
      EXPECT_LE(d.size(), DATAGRAM_BUFFER_SIZE) << packet;
      total += d.size();
    }
    EXPECT_EQ(total, 512u * 61 + 32 * 109 + 22 * 17 + 546) << packet;
    if (packet <= 1) {
      EXPECT_EQ(cap.datagrams.size(), 512u + 32 + 22 + 1);  // each message alone
    }
  }
}

TEST(SnapshotWriter, StopsSendingAfterAFailureUntilBegin) {
  Capture cap;
  cap.fail_after = 1;
  SnapshotWriter w(100, capture_send, &cap);
  for (int i = 0; i < 10; ++i) w.add_object(object_in(i));
  w.finish(PresenceMessage{});
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(cap.datagrams.size(), 1u);
  cap.fail_after = -1;
  w.begin(100);
  EXPECT_FALSE(w.failed());
  w.finish(PresenceMessage{});
  EXPECT_EQ(cap.datagrams.size(), 2u);
  EXPECT_EQ(cap.datagrams[1].size(), 546u);
}

// ---- snapshot parser -----------------------------------------------------

struct Seen {
  int presence = 0, players = 0, objects = 0, sounds = 0;
  std::vector<int> slots;
};

SnapshotHandler counting_handler(Seen* s) {
  SnapshotHandler h;
  h.context = s;
  h.on_presence = [](void* c, const PresenceMessage&) { ++static_cast<Seen*>(c)->presence; };
  h.on_player = [](void* c, const PlayerMessage& m) {
    auto* seen = static_cast<Seen*>(c);
    EXPECT_TRUE(m.slot >= 0 && m.slot < MAX_PLAYERS);
    EXPECT_LT(std::strlen(m.name), NAME_SIZE);
    ++seen->players;
    seen->slots.push_back(m.slot);
  };
  h.on_object = [](void* c, const ObjectMessage& m) {
    auto* seen = static_cast<Seen*>(c);
    EXPECT_TRUE(m.slot >= 0 && m.slot < MAX_OBJECTS);
    EXPECT_TRUE(m.kind >= 1 && m.kind <= 11);
    ++seen->objects;
    seen->slots.push_back(m.slot);
  };
  h.on_sound = [](void* c, const SoundEventMessage& m) {
    EXPECT_TRUE(m.sound >= 0 && m.sound < NUM_SOUNDS);
    ++static_cast<Seen*>(c)->sounds;
  };
  return h;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes object_bytes(int slot, int kind = KIND_SHOT) {
  ObjectMessage m = object_in(slot);
  m.kind = kind;
  Bytes b(OBJECT_MESSAGE_SIZE);
  encode_object_message(m, b.data());
  return b;
}

Bytes player_bytes(int slot) {
  PlayerMessage m;
  m.slot = slot;
  Bytes b(PLAYER_MESSAGE_SIZE);
  encode_player_message(m, b.data());
  return b;
}

Bytes sound_bytes(int sound) {
  Bytes b(SOUND_EVENT_MESSAGE_SIZE);
  encode_sound_event_message({static_cast<std::int8_t>(sound), {}}, b.data());
  return b;
}

Bytes presence_bytes() {
  Bytes b(PRESENCE_MESSAGE_SIZE);
  encode_presence_message(PresenceMessage{}, b.data());
  return b;
}

TEST(ParseSnapshot, WalksEveryMessageInOrder) {
  const Bytes d =
      concat({object_bytes(4), object_bytes(9), player_bytes(2), sound_bytes(3), presence_bytes()});
  Seen s;
  parse_snapshot(d.data(), d.size(), counting_handler(&s));
  EXPECT_EQ(s.objects, 2);
  EXPECT_EQ(s.players, 1);
  EXPECT_EQ(s.sounds, 1);
  EXPECT_EQ(s.presence, 1);
  EXPECT_EQ(s.slots, (std::vector<int>{4, 9, 2}));
}

TEST(ParseSnapshot, OutOfRangeSlotsKindsAndSoundsAreSkippedNotStored) {
  const Bytes d =
      concat({object_bytes(512), object_bytes(-1), object_bytes(3, 0), object_bytes(3, 12),
              object_bytes(5), player_bytes(32), player_bytes(-7), player_bytes(31),
              sound_bytes(22), sound_bytes(-1), sound_bytes(0), presence_bytes()});
  Seen s;
  parse_snapshot(d.data(), d.size(), counting_handler(&s));
  EXPECT_EQ(s.slots, (std::vector<int>{5, 31}));
  EXPECT_EQ(s.sounds, 1);
  EXPECT_EQ(s.presence, 1);
}

TEST(ParseSnapshot, ShortMessagesAndUnknownTypesEndTheWalk) {
  // QuitAck: a lone type-0 byte.
  Seen quit;
  const std::uint8_t ack = QUIT_ACK_BYTE;
  parse_snapshot(&ack, 1, counting_handler(&quit));
  EXPECT_EQ(quit.presence, 0);

  const Bytes whole = concat({object_bytes(1), player_bytes(1), presence_bytes()});
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));  // exact size for ASan
    Seen s;
    parse_snapshot(part.data(), part.size(), counting_handler(&s));
    EXPECT_EQ(s.objects, cut >= 61 ? 1 : 0);
    EXPECT_EQ(s.players, cut >= 170 ? 1 : 0);
    EXPECT_EQ(s.presence, 0);
  }

  const Bytes unknown = concat({object_bytes(1), Bytes{4}, object_bytes(2)});
  Seen u;
  parse_snapshot(unknown.data(), unknown.size(), counting_handler(&u));
  EXPECT_EQ(u.objects, 1);
  parse_snapshot(nullptr, 100, counting_handler(&u));
  parse_snapshot(unknown.data(), unknown.size(), SnapshotHandler{});  // no handlers
}

TEST(ParseSnapshot, RandomDatagramsNeverReadOutOfBoundsOrPassBadSlots) {
  std::srand(12345);
  const int type_sizes[] = {546, 109, 61, 17};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t len = static_cast<std::size_t>(std::rand() % 2049);
    Bytes d(len);
    for (auto& b : d) b = static_cast<std::uint8_t>(std::rand() % 256);
    // Make well-formed type bytes likely, so the walk goes deep.
    for (std::size_t pos = 0; pos < len;) {
      const int type = std::rand() % 5;
      d[pos] = static_cast<std::uint8_t>(type);
      if (type > 3) break;
      pos += static_cast<std::size_t>(type_sizes[type]);
    }
    Seen s;
    parse_snapshot(d.data(), d.size(), counting_handler(&s));
  }
}

}  // namespace
}  // namespace zbx
