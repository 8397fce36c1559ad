#include "sound/sound.h"

#include <AL/al.h>
#include <AL/alut.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "wav.h"
#include "startup/settings.h"

namespace zbx {

SoundState g_sound;

namespace {

constexpr std::size_t MAX_SOUND_FILE_BYTES = 16u << 20;

std::string sound_path(int n) {
  const char* prefix = data_prefix();
  const int len = std::snprintf(nullptr, 0, "%s/zbx3d/sounds/%d.wav", prefix, n);
  std::string path(static_cast<std::size_t>(len), '\0');
  std::snprintf(path.data(), path.size() + 1, "%s/zbx3d/sounds/%d.wav", prefix, n);
  return path;
}

// Our own reader checks the file first, so ALUT's loader only ever sees
// well-formed PCM and nothing it returns is trusted beyond its own size.
bool load_sound_file(const char* path, SoundBankEntry& entry) {
  std::vector<std::uint8_t> image;
  WavInfo info;
  if (!read_file_bytes(path, MAX_SOUND_FILE_BYTES, image) || !parse_wav(image, info)) return false;
  ALenum format = 0;
  ALsizei size = 0;
  ALfloat frequency = 0;
  void* data = alutLoadMemoryFromFileImage(image.data(), static_cast<ALsizei>(image.size()),
                                           &format, &size, &frequency);
  if (data == nullptr) return false;
  const bool ok = size > 0 && static_cast<std::size_t>(size) <= info.dataSize && frequency >= 1.0f;
  if (ok) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    entry.data.assign(bytes, bytes + size);
    entry.size = size;
    entry.frequency = static_cast<int>(frequency);
    entry.format = format;
  }
  std::free(data);
  return ok;
}

bool voice_busy(const Voice& v) {
  if (v.source == 0 || alIsSource(v.source) != AL_TRUE) return false;
  ALint state = AL_STOPPED;
  alGetSourcei(v.source, AL_SOURCE_STATE, &state);
  return state == AL_PLAYING || state == AL_PAUSED;
}

void release_voice(Voice& v) {
  if (v.source != 0 && alIsSource(v.source) == AL_TRUE) alDeleteSources(1, &v.source);
  if (v.buffer != 0 && alIsBuffer(v.buffer) == AL_TRUE) alDeleteBuffers(1, &v.buffer);
  v = Voice{};
}

// Gives the voice a fresh buffer and source playing the entry; false (and
// the voice left empty) when OpenAL refuses.
bool start_voice(Voice& v, const SoundBankEntry& entry, Vector3f at, bool loop) {
  release_voice(v);
  alGetError();
  ALuint buffer = 0;
  alGenBuffers(1, &buffer);
  if (alGetError() != AL_NO_ERROR) return false;
  v.buffer = buffer;
  alBufferData(buffer, entry.format, entry.data.data(), entry.size, entry.frequency);
  ALuint source = 0;
  alGenSources(1, &source);
  if (alGetError() != AL_NO_ERROR) {
    release_voice(v);
    return false;
  }
  v.source = source;
  alSource3f(source, AL_POSITION, at.x, at.y, at.z);
  alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
  alSourcei(source, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
  alSourcePlay(source);
  v.started = ++g_sound.startCount;
  return true;
}

bool playable(int n) {
  return g_sound.available && n >= 0 && n < NUM_SOUNDS && !g_sound.bank[n].data.empty() &&
         clamp_volume(g_client_settings.VOLUME) != 0;
}

void play_one_shot(int n, Vector3f at) {
  std::lock_guard lock(g_sound.mutex);
  if (!playable(n)) return;
  // The lowest free voice; with all of them busy, the one that started
  // longest ago, whose sound has had the most of its time already.
  Voice* chosen = nullptr;
  for (Voice& v : g_sound.oneShotVoices) {
    if (!voice_busy(v)) {
      chosen = &v;
      break;
    }
    if (chosen == nullptr || v.started < chosen->started) chosen = &v;
  }
  start_voice(*chosen, g_sound.bank[n], at, false);
}

void stop_loop_locked(int handle) {
  if (!g_sound.available || handle < 0 || handle >= NUM_LOOP_VOICES) return;
  const Voice& v = g_sound.loopVoices[handle];
  if (v.source != 0 && alIsSource(v.source) == AL_TRUE) alSourceStop(v.source);
}

}  // namespace

VolumeGainTable build_volume_gain_table() {
  VolumeGainTable table{};
  for (int v = 0; v <= MAX_VOLUME; ++v) {
    float gain = 1.0f;
    for (int i = 0; i < MAX_VOLUME - v; ++i) gain = static_cast<float>(gain / 1.6);
    table[v] = gain;
  }
  return table;
}

int clamp_volume(int volume) { return volume < 0 ? 0 : volume > MAX_VOLUME ? MAX_VOLUME : volume; }

void init_sound(int* argc, char** argv) {
  std::lock_guard lock(g_sound.mutex);
  if (g_sound.available) return;
  g_sound.oneShotVoices.fill(Voice{});
  g_sound.loopVoices.fill(Voice{});
  g_sound.gains = build_volume_gain_table();
  g_sound.pendingVolume = g_client_settings.VOLUME;
  g_client_settings.VOLUME = clamp_volume(g_client_settings.VOLUME);
  if (alutInit(argc, argv) != AL_TRUE) {
    std::printf("No audio device: playing without sound\n");
    return;
  }
  g_sound.available = true;
  alListenerf(AL_GAIN, g_sound.gains[g_client_settings.VOLUME]);
  for (int n = 0; n < NUM_SOUNDS; ++n) {
    SoundBankEntry& entry = g_sound.bank[n];
    entry = SoundBankEntry{};
    const std::string path = sound_path(n);
    if (!load_sound_file(path.c_str(), entry)) std::printf("Cannot load sound %s\n", path.c_str());
  }
  std::fflush(stdout);
}

void set_volume_gain() {
  std::lock_guard lock(g_sound.mutex);
  g_client_settings.VOLUME = clamp_volume(g_client_settings.VOLUME);
  if (g_sound.available) alListenerf(AL_GAIN, g_sound.gains[g_client_settings.VOLUME]);
}

void play_sound_at(int n, Vector3f p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    if (n == SOUND_DISTANT_NUKE_LAUNCH) return;  // cannot tell how far away
    p = Vector3f{};
  }
  if (n == SOUND_DISTANT_NUKE_LAUNCH) {
    const double d2 = double{p.x} * p.x + double{p.y} * p.y + double{p.z} * p.z;
    if (d2 > double{NUKE_HEARING_DISTANCE} * NUKE_HEARING_DISTANCE) return;
    p = Vector3f{};
  } else if (n == SOUND_NUKE_BLAST) {
    p = Vector3f{p.x / NUKE_BLAST_DISTANCE_DIVISOR, p.y / NUKE_BLAST_DISTANCE_DIVISOR,
                 p.z / NUKE_BLAST_DISTANCE_DIVISOR};
  }
  play_one_shot(n, p);
}

int play_loop(int n) {
  std::lock_guard lock(g_sound.mutex);
  if (!playable(n)) return -1;
  for (int i = 0; i < NUM_LOOP_VOICES; ++i) {
    Voice& v = g_sound.loopVoices[i];
    if (voice_busy(v)) continue;
    return start_voice(v, g_sound.bank[n], Vector3f{}, true) ? i : -1;
  }
  return -1;  // taking over a loop would leave its owner a handle to a stranger
}

void stop_loop(int handle) {
  std::lock_guard lock(g_sound.mutex);
  stop_loop_locked(handle);
}

void stop_all_loops() {
  std::lock_guard lock(g_sound.mutex);
  // Every loop voice, not just the three the game knows of: a loop whose
  // handle was lost would otherwise hum on into the menus.
  for (int h = 0; h < NUM_LOOP_VOICES; ++h) stop_loop_locked(h);
}

void shutdown_sound() {
  std::lock_guard lock(g_sound.mutex);
  if (g_sound.available) {
    for (Voice& v : g_sound.oneShotVoices) release_voice(v);
    for (Voice& v : g_sound.loopVoices) release_voice(v);
    alutExit();
  }
  g_sound.available = false;
  for (SoundBankEntry& entry : g_sound.bank) entry = SoundBankEntry{};
  g_sound.oneShotVoices.fill(Voice{});
  g_sound.loopVoices.fill(Voice{});
  g_sound.startCount = 0;
}

}  // namespace zbx
