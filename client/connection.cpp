// Joining a server, forwarding keys and the receiver thread.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

#include "client/client.h"
#include "client/replay.h"
#include "client/smoothing.h"
#include "protocol/protocol.h"
#include "protocol/query.h"
#include "startup/settings.h"

namespace zbx {

ClientConnection g_connection;

namespace {

timeval to_timeval(std::chrono::milliseconds ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
  return tv;
}

bool send_bytes(const void* data, std::size_t size) {
  const auto* to = reinterpret_cast<const sockaddr*>(&g_connection.server);
  return sendto(g_connection.socket, data, size, 0, to, sizeof g_connection.server) ==
         static_cast<ssize_t>(size);
}

void close_socket() {
  if (g_connection.socket >= 0) close(g_connection.socket);
  g_connection.socket = -1;
}

void send_join_request() {
  char name[sizeof g_client_settings.PLAYER_NAME + 1] = {};
  std::memcpy(name, g_client_settings.PLAYER_NAME, sizeof g_client_settings.PLAYER_NAME);
  std::uint8_t request[COMPACT_JOIN_SIZE];
  std::size_t length = JOIN_REQUEST_SIZE;
  JoinProgress& j = g_connection.join;
  j.compactAsked = j.compactOffered && g_client_settings.COMPACT_SNAPSHOTS != 0;
  if (j.compactAsked) {
    encode_compact_join(name, request);
    length = COMPACT_JOIN_SIZE;
  } else {
    encode_join_request(name, request);
  }
  if (!send_bytes(request, length)) {
    std::puts("Write Error in Connect Server");
    fatal_exit(1);
  }
  g_connection.join.deadline = std::chrono::steady_clock::now() + g_connection.receiveTimeout;
}

// The one datagram an attempt reads; any other length ends the attempt.
// `compact`: the reply grants the compact stream asked for.
bool read_join_reply(JoinReply& reply, bool& compact) {
  std::uint8_t buffer[JOIN_REPLY_SIZE];
  const ssize_t n =
      recvfrom(g_connection.socket, buffer, sizeof buffer, MSG_DONTWAIT, nullptr, nullptr);
  if (n != static_cast<ssize_t>(JOIN_REPLY_SIZE)) return false;
  reply = decode_join_reply(buffer);
  compact = g_connection.join.compactAsked && is_compact_join_reply(buffer);
  // Whoever answered, a slot outside the table is no reply at all.
  return reply.slot >= 0 && reply.slot < MAX_PLAYERS;
}

std::string fresh_challenge() {
  std::random_device random;
  char text[16];
  std::snprintf(text, sizeof text, "zbx%08x", static_cast<unsigned>(random()));
  return text;
}

// A setting of the status answer, when it is a sane number.
float status_number(const InfoPairs& info, const char* key, float fallback, float low, float high) {
  const std::string* text = info_find(info, key);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const float v = std::strtof(text->c_str(), &end);
  return end != text->c_str() && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

// Takes one datagram while the status is awaited: true once it was the
// server's answer to our challenge.
bool read_status_answer() {
  std::uint8_t buffer[QUERY_MAX_DATAGRAM];
  sockaddr_in from{};
  socklen_t size = sizeof from;
  const ssize_t n = recvfrom(g_connection.socket, buffer, sizeof buffer, MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &size);
  if (n <= 0 || from.sin_addr.s_addr != g_connection.server.sin_addr.s_addr ||
      from.sin_port != g_connection.server.sin_port) {
    return false;
  }
  const auto length = static_cast<std::size_t>(n);
  const OobMessage m = parse_out_of_band(buffer, length);
  if (m.kind != OobKind::StatusResponse) return false;
  const StatusAnswer a = parse_status_body(buffer + m.bodyOffset, length - m.bodyOffset);
  const std::string* challenge = info_find(a.info, "challenge");
  JoinProgress& j = g_connection.join;
  if (challenge == nullptr || *challenge != j.challenge) return false;
  ServerTraits t;
  t.known = true;
  t.rotationSpeed = status_number(a.info, "ROTATION_SPEED", t.rotationSpeed, -360, 360);
  t.acceleration = status_number(a.info, "ACCELERATION_CONSTANT", t.acceleration, -100, 100);
  t.deceleration = status_number(a.info, "DECELERATION_CONSTANT", t.deceleration, -100, 100);
  t.gameSleep = static_cast<int>(status_number(a.info, "GAME_SLEEP", t.gameSleep, 1, 60000));
  t.netSleep = static_cast<int>(status_number(a.info, "NET_SLEEP_TIME", t.netSleep, 0, 60000));
  if (const std::string* list = info_find(a.info, EXTENSIONS_KEY)) {
    // A comma-separated list of words.
    std::string_view rest = *list;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      if (rest.substr(0, comma) == EXTENSION_COMPACT) t.compact = true;
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }
  j.traits = t;
  j.compactOffered = t.compact;
  return true;
}

std::int64_t steady_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void begin_join() {
  g_connection.KeyState.fill(0);
  g_connection.compact = false;
  // Whatever an unfinished game left behind ends here: one receiver per game.
  if (g_connection.receiver.joinable()) stop_receiver();
  close_socket();

  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    std::puts("Socket Error");
    fatal_exit(1);
  }
  g_connection.socket = s;
  const timeval timeout = to_timeval(g_connection.receiveTimeout);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  char ip[sizeof g_client_settings.SERVER_IP] = {};
  std::memcpy(ip, g_client_settings.SERVER_IP, sizeof ip - 1);
  g_connection.server = sockaddr_in{};
  g_connection.server.sin_family = AF_INET;
  g_connection.server.sin_port = htons(static_cast<std::uint16_t>(g_client_settings.SERVER_PORT));
  if (inet_pton(AF_INET, ip, &g_connection.server.sin_addr) != 1) {
    std::printf("inet_pton error for %s\n", ip);
    fatal_exit(2);
  }

  const std::uint8_t probe = PROBE_BYTE;
  send_bytes(&probe, PROBE_SIZE);  // its fate does not matter

  JoinProgress& j = g_connection.join;
  j = JoinProgress{};
  j.active = true;
  j.attempt = 1;
  // The private server of a single-player game needs no asking.
  if (g_local_server.privateGame) {
    send_join_request();
    return;
  }
  j.challenge = fresh_challenge();
  const std::string query = query_datagram(OobKind::GetStatus, j.challenge);
  send_bytes(query.data(), query.size());
  j.asking = true;
  j.askUntil = std::chrono::steady_clock::now() + STATUS_WAIT;
  j.deadline = j.askUntil + g_connection.receiveTimeout;
}

JoinStatus join_step(std::chrono::milliseconds wait) {
  JoinProgress& j = g_connection.join;
  if (!j.active) return JoinStatus::Failed;
  using std::chrono::milliseconds;
  if (j.asking) {
    const auto left =
        std::chrono::ceil<milliseconds>(j.askUntil - std::chrono::steady_clock::now());
    pollfd p{g_connection.socket, POLLIN, 0};
    const auto slice = std::clamp(std::min(wait, left), milliseconds(0), STATUS_WAIT);
    const bool answered = poll(&p, 1, static_cast<int>(slice.count())) > 0 && read_status_answer();
    if (answered || std::chrono::steady_clock::now() >= j.askUntil) {
      j.asking = false;
      send_join_request();
    }
    return JoinStatus::Waiting;
  }
  const auto left = std::chrono::ceil<milliseconds>(j.deadline - std::chrono::steady_clock::now());
  pollfd p{g_connection.socket, POLLIN, 0};
  const auto slice = std::clamp(std::min(wait, left), milliseconds(0), milliseconds(60000));
  const int ready = poll(&p, 1, static_cast<int>(slice.count()));
  if (ready < 0 || (ready == 0 && std::chrono::steady_clock::now() < j.deadline)) {
    return JoinStatus::Waiting;
  }
  JoinReply reply;
  bool compact = false;
  if (ready > 0 && read_join_reply(reply, compact)) {
    j.active = false;
    g_connection.compact = compact;
    std::unique_lock<std::mutex> lock(mirror_mutex(), std::defer_lock);
    if (!g_play.holdsMirror) lock.lock();
    g_mirror.join.traits = j.traits;
    g_mirror.join.worldWidth = reply.worldWidth;
    g_mirror.join.slot = reply.slot;
    g_mirror.join.gameType = reply.gameType;
    g_mirror.join.maxShield = reply.maxShield;
    g_mirror.join.maxArmor = reply.maxArmor;
    return JoinStatus::Joined;
  }
  if (j.attempt < JOIN_ATTEMPTS) {
    std::puts("Error connecting to server, retrying");
    ++j.attempt;
    send_join_request();
    return JoinStatus::Waiting;
  }
  j.active = false;
  std::puts("Failed to connect to server");
  std::fflush(stdout);
  return JoinStatus::Failed;
}

int ConnectServer() {
  begin_join();
  JoinStatus status = JoinStatus::Waiting;
  while (status == JoinStatus::Waiting) status = join_step(g_connection.receiveTimeout);
  if (status == JoinStatus::Joined) return 0;
  leave_game();  // closes the socket: failed joins leave no descriptor behind
  return 1;
}

int silence_seconds() {
  // A replay has no server to fall silent: a pause there is the viewer's.
  if (g_connection.socket < 0) return 0;
  const std::int64_t quiet = steady_milliseconds() - g_connection.lastDatagram.load();
  return quiet >= 2000 ? static_cast<int>(quiet / 1000) : 0;
}

void TellServer(int code, bool pressed) {
  if (g_connection.socket < 0) return;
  const std::uint8_t byte = encode_key_event(code, pressed);
  if (!send_bytes(&byte, KEY_EVENT_SIZE)) {
    std::puts("Write Error in TellServer");
    fatal_exit(1);
  }
}

void SendUpdate() {
  if (g_connection.socket < 0) return;
  if (!send_bytes(g_connection.KeyState.data(), KEY_STATE_SIZE)) {
    std::puts("Write Error in SendUpdate");
    fatal_exit(1);
  }
}

namespace {

struct SnapshotContext {
  WorldMirror* mirror;
  int* warpLoop;
  double arrival;  // game clock seconds
};

void on_presence(void* c, const PresenceMessage& m) {
  auto* ctx = static_cast<SnapshotContext*>(c);
  apply_presence(*ctx->mirror, m);
  // The snapshot is whole now: the smoother keeps it with its arrival.
  record_snapshot(ctx->arrival);
}
void on_player(void* c, const PlayerMessage& m) {
  auto* ctx = static_cast<SnapshotContext*>(c);
  apply_player_message(*ctx->mirror, m, *ctx->warpLoop);
}
void on_object(void* c, const ObjectMessage& m) {
  apply_object_message(*static_cast<SnapshotContext*>(c)->mirror, m);
}
void on_sound(void* c, const SoundEventMessage& m) {
  apply_sound_event(*static_cast<SnapshotContext*>(c)->mirror, m);
}

}  // namespace

namespace {

void send_ack(const CompactAck& ack) {
  std::uint8_t datagram[COMPACT_ACK_SIZE];
  encode_compact_ack(ack, datagram);
  send_bytes(datagram, sizeof datagram);  // a lost one is repeated with the next snapshot
}

bool record_synthesised(void*, const std::uint8_t* data, std::size_t length) {
  record_datagram(data, length);
  return true;
}

// One compact datagram: when it completes a snapshot, the mirror takes the
// world it holds exactly as it would take the snapshot messages of the first
// stream, and a recording gets those messages.
void receive_compact(const std::uint8_t* data, std::size_t length, CompactFrame& frame,
                     double arrival) {
  const CompactDecoder::Result result = g_connection.decoder->accept(data, length, frame);
  if (result == CompactDecoder::Result::Ignored) return;
  if (result == CompactDecoder::Result::Applied) {
    apply_frame(frame, arrival);
    if (!g_recording.path.empty()) {
      SnapshotWriter writer(MAX_PACKET_SIZE, record_synthesised, nullptr);
      write_frame(frame, writer);
    }
  }
  send_ack(g_connection.decoder->ack());
}

}  // namespace

void apply_frame(const CompactFrame& frame, double arrival) {
  g_connection.receiverActive.store(1);
  {
    std::lock_guard<std::mutex> lock(mirror_mutex());
    for (const FrameObject& o : frame.objects) {
      if (o.present) apply_object_message(g_mirror, o.message);
    }
    for (const FramePlayer& p : frame.players) {
      if (p.present) apply_player_message(g_mirror, p.message, g_connection.warpLoop);
    }
    for (const SoundEventMessage& sound : frame.sounds) apply_sound_event(g_mirror, sound);
    apply_presence(g_mirror, presence_of(frame));
    // The snapshot is whole now: the smoother keeps it with its arrival.
    record_snapshot(arrival);
  }
  g_connection.receiverActive.store(0);
}

PresenceMessage presence_of(const CompactFrame& frame) {
  PresenceMessage presence;
  for (int i = 0; i < MAX_OBJECTS; ++i) presence.objects[i] = frame.objects[i].present ? 1 : 0;
  for (int i = 0; i < MAX_PLAYERS; ++i) presence.players[i] = frame.players[i].present ? 1 : 0;
  presence.matchRunning = frame.matchRunning;
  return presence;
}

void write_frame(const CompactFrame& frame, SnapshotWriter& writer) {
  writer.begin(MAX_PACKET_SIZE);
  for (const FrameObject& o : frame.objects) {
    if (o.present) writer.add_object(o.message);
  }
  for (const FramePlayer& p : frame.players) {
    if (p.present) writer.add_player(p.message);
  }
  for (const SoundEventMessage& sound : frame.sounds) writer.add_sound_event(sound);
  writer.finish(presence_of(frame));
}

void ReadServerThread() {
  const int s = g_connection.socket;
  record_game_begin();
  std::uint8_t buffer[DATAGRAM_BUFFER_SIZE];
  std::unique_ptr<CompactFrame> frame;
  while (g_connection.receiverStop.load() == 0) {
    const ssize_t n = recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr);
    if (n < 0) {
      std::puts("Network error");
      continue;
    }
    if (n == 0) continue;  // woken by the game's end, or an empty datagram
    const double arrival = steady_seconds();
    g_connection.lastDatagram.store(steady_milliseconds());
    const auto length = static_cast<std::size_t>(n);
    if (g_connection.decoder && is_compact_datagram(buffer, length)) {
      if (!frame) frame = std::make_unique<CompactFrame>();
      receive_compact(buffer, length, *frame, arrival);
      continue;
    }
    apply_datagram(buffer, length, arrival);
    record_datagram(buffer, length);
  }
  record_game_end();
  std::puts("Exiting Read Server Thread");
  g_connection.receiversRunning.fetch_sub(1);
}

void stop_receiver() {
  g_connection.receiverStop.store(1);
  // Wakes a receiver blocked in recvfrom now rather than at its time-out.
  if (g_connection.socket >= 0) shutdown(g_connection.socket, SHUT_RDWR);
  release_mirror();
  if (g_connection.receiver.joinable()) g_connection.receiver.join();
  close_socket();
}

int StartGame() {
  stop_receiver();  // never two receivers: an unfinished game ends here
  if (ConnectServer() != 0) return 1;
  begin_game();
  return 0;
}

void begin_game() {
  g_connection.receiverStop.store(0);
  g_connection.decoder.reset();
  if (g_connection.compact) {
    g_connection.decoder =
        std::make_unique<CompactDecoder>(g_mirror.join.worldWidth, g_mirror.join.slot);
    // Says at once that no snapshot is held: the first one comes whole (and a
    // server verifying new clients hears from us again).
    send_ack(g_connection.decoder->ack());
  }
  g_connection.lastDatagram.store(steady_milliseconds());
  g_connection.receiversStarted.fetch_add(1);
  g_connection.receiversRunning.fetch_add(1);
  start_game_thread(ReadServerThread);
}

void start_game_thread(void (*body)()) {
  g_play.scoreTable = 0;
  g_play.reverseView = 0;
  g_play.holders.fill(0);
  hold_mirror();
  begin_smoothing(g_replay.active);
  try {
    g_connection.receiver = std::thread(body);
  } catch (const std::system_error& e) {
    std::printf("ERROR, return code from pthread_create() is %d\n", e.code().value());
    fatal_exit(1);
  }
  g_play.beatPeriod = BEAT_PERIOD;
  g_play.beatCounter = BEAT_PERIOD;
  g_play.beatToggle = 0;
  gettimeofday(&g_play.previousFrame, nullptr);
  g_play.lastUpdate = g_play.previousFrame;
  g_play.inGame = true;
}

void apply_datagram(const std::uint8_t* data, std::size_t length) {
  apply_datagram(data, length, steady_seconds());
}

void apply_datagram(const std::uint8_t* data, std::size_t length, double arrival) {
  SnapshotContext context{&g_mirror, &g_connection.warpLoop, arrival};
  SnapshotHandler handler;
  handler.context = &context;
  handler.on_presence = on_presence;
  handler.on_player = on_player;
  handler.on_object = on_object;
  handler.on_sound = on_sound;
  g_connection.receiverActive.store(1);
  {
    std::lock_guard<std::mutex> lock(mirror_mutex());
    parse_snapshot(data, length, handler);
  }
  g_connection.receiverActive.store(0);
}

}  // namespace zbx
