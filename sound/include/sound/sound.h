// Sound effects: the 22 WAV files loaded once at start and played through
// OpenAL, one-shot at a position relative to the own ship or looping at the
// listener, with a listener gain chosen by the client setting VOLUME.
//
// Every function may be called from the window-system thread and from the
// update receiver at the same time: g_sound.mutex guards the voice tables,
// the bank and every OpenAL call made here; it is taken inside whatever lock
// the caller holds (the mirror mutex) and nothing is called out from under
// it. With no audio device the library stays silent and every call is a
// cheap no-op.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "protocol/zbx_types.h"

namespace zbx {

inline constexpr int NUM_ONE_SHOT_VOICES = 32;
inline constexpr int NUM_LOOP_VOICES = 16;
inline constexpr int MAX_VOLUME = 9;

// Sound numbers the library treats specially.
inline constexpr int SOUND_NUKE_BLAST = 20;           // played at half the distance and less
inline constexpr int SOUND_DISTANT_NUKE_LAUNCH = 21;  // heard only within NUKE_HEARING_DISTANCE
inline constexpr float NUKE_HEARING_DISTANCE = 5.0f;
inline constexpr float NUKE_BLAST_DISTANCE_DIVISOR = 2.5f;

// One loaded effect: PCM bytes ready for alBufferData. Empty when the file
// was missing or unreadable; such a sound plays nothing.
struct SoundBankEntry {
  std::vector<std::uint8_t> data;
  int size = 0;       // bytes
  int frequency = 0;  // samples per second
  int format = 0;     // AL_FORMAT_MONO16 and the like
};
using SoundBank = std::array<SoundBankEntry, NUM_SOUNDS>;

// An OpenAL source and the buffer it plays; both 0 while never used.
struct Voice {
  unsigned source = 0;
  unsigned buffer = 0;
  std::uint64_t started = 0;  // start order, to find the oldest voice
};

// Listener gain for each VOLUME 0..9.
using VolumeGainTable = std::array<float, MAX_VOLUME + 1>;

// Everything the library keeps, for the life of the process (tests reset it
// with shutdown_sound).
struct SoundState {
  std::mutex mutex;        // guards the rest, bar the atomics
  bool available = false;  // an OpenAL device and context are open
  SoundBank bank;
  std::array<Voice, NUM_ONE_SHOT_VOICES> oneShotVoices;
  std::array<Voice, NUM_LOOP_VOICES> loopVoices;
  VolumeGainTable gains{};
  std::uint64_t startCount = 0;
  // The volume the configuration editor edits; taken over into VOLUME and
  // applied with set_volume_gain when it differs. Window-system thread only.
  int pendingVolume = MAX_VOLUME;
};
extern SoundState g_sound;

// 1.0 for 9, each lower entry the one above divided by 1.6.
VolumeGainTable build_volume_gain_table();
// VOLUME limited to 0..9.
int clamp_volume(int volume);

// Opens the audio device, sets the listener gain from VOLUME (which it
// clamps, after copying it to the pending volume) and loads the 22 files
// from data_prefix(). A file that cannot be used is named in one line on
// standard output; a missing device leaves the program silent.
void init_sound(int* argc, char** argv);
// Clamps VOLUME and applies its gain to the listener.
void set_volume_gain();
// Plays sound n once at p, a position in the own ship's camera axes, or
// (0, 0, 0) at the listener. Numbers outside 0..21 are ignored.
void play_sound_at(int n, Vector3f p);
// Starts sound n looping at the listener; the handle 0..15, or -1 when
// VOLUME is 0, nothing can be played or all loop voices are busy.
int play_loop(int n);
// Stops the loop of that handle; anything else is ignored.
void stop_loop(int handle);
// Stops every playing loop: the shield hum, engine and hyper-warp when a game
// ends (their holders set their handles back to -1 themselves).
void stop_all_loops();
// Closes the device and forgets everything init_sound set up.
void shutdown_sound();

}  // namespace zbx
