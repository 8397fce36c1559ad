// The state broadcast: one thread per admitted client sends it a snapshot of
// the whole world every NET_SLEEP_TIME milliseconds. Snapshots are built under
// the world lock; building is separate from sending so it can be tested.
#pragma once

#include "protocol/protocol.h"
#include "run.h"
#include "world.h"

namespace zbx {

// Message for the object in `slot`.
ObjectMessage make_object_message(const WorldObject& object, int slot);
// Message for the ship in `slot` as seen by the client in `receiver`: the
// (own) fields and the flight orientation only when the two are equal.
PlayerMessage make_player_message(const Ship& ship, int slot, int receiver);
// Presence bytes of both tables and matchRunning.
void make_presence_message(PresenceMessage& out);

// Appends one whole snapshot for the client in `receiver` to the writer, in
// wire order, and frees the sound-queue entries it has put into the buffer.
// World lock held.
void build_snapshot(int receiver, SnapshotWriter& writer);

// The world as the client in `receiver` sees it, with what the compact stream
// predicts from (velocities, turns, growth), and its pending sound events,
// which are freed as build_snapshot frees them. World lock held.
void build_compact_frame(int receiver, CompactFrame& frame);

// Thread body serving player slot `slot` for the admission numbered
// `generation` (see ServerRun). Ends at the first cycle that finds the slot
// empty or admitted again, after the run's stop flag, or on a failed send.
void broadcast_thread(ServerRun& run, int socket, int slot, unsigned generation);

}  // namespace zbx
