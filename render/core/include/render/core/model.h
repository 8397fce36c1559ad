// Triangle models with per-vertex colours: the .spec file reader, the model
// table filled from the seven model files, and the procedural asteroid meshes.
// Pure data and geometry; no GL. Built once at start-up on the window-system
// thread, read-only afterwards, so no lock.
//
// A model has one of two forms:
//  - face form (every model read from a file): `faces` holds each triangle's
//    own three positions and colours; `vertices` and `welded` are empty;
//  - welded form (asteroid meshes): `vertices` holds every shared corner once,
//    in creation order, and `welded` holds each triangle as three indices.
// Use face_count() and face_corners() to read either form.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/zbx_types.h"

namespace zbx {

// One triangle in face form: corner k has position[k] and colour[k].
struct Face {
  std::array<Vector3f, 3> position{};
  std::array<Colour3f, 3> colour{};
};

// A corner shared by several triangles of a welded model.
struct MeshVertex {
  Vector3f position;
  Colour3f colour;
};

// One triangle in welded form: indices into Model::vertices.
struct WeldedFace {
  std::array<std::uint32_t, 3> vertex{};
};

struct Model {
  std::vector<Face> faces;           // face form
  std::vector<MeshVertex> vertices;  // welded form: shared corners, creation order
  std::vector<WeldedFace> welded;    // welded form: the triangles
};

inline bool is_welded(const Model& m) { return !m.vertices.empty(); }

inline int face_count(const Model& m) {
  return static_cast<int>(is_welded(m) ? m.welded.size() : m.faces.size());
}

// The three positions and colours of face k (0 <= k < face_count), either form.
inline Face face_corners(const Model& m, int k) {
  if (!is_welded(m)) return m.faces[static_cast<std::size_t>(k)];
  Face f;
  const WeldedFace& w = m.welded[static_cast<std::size_t>(k)];
  for (int i = 0; i < 3; ++i) {
    const MeshVertex& v = m.vertices[w.vertex[i]];
    f.position[i] = v.position;
    f.colour[i] = v.colour;
  }
  return f;
}

inline constexpr int MODEL_SLOTS = 255;
using ModelTable = std::array<std::unique_ptr<Model>, MODEL_SLOTS>;
using AsteroidMeshes = std::array<std::unique_ptr<Model>, MAX_OBJECTS>;

extern ModelTable g_models;               // slot = object kind; 0 = ship
extern AsteroidMeshes g_asteroid_meshes;  // index = object slot

// Slots that load_model_set must see filled: ship, shot, S, A, N, H, nuke.
inline constexpr std::array<int, 7> NEEDED_MODEL_SLOTS = {0, 2, 6, 7, 8, 9, 10};
// File names in loading order.
inline constexpr std::array<const char*, 7> MODEL_FILES = {
    "ship.spec", "shot.spec", "a.spec", "h.spec", "n.spec", "s.spec", "nuke.spec"};
inline constexpr int MAX_TOKEN_LENGTH = 79;

// --- The .spec reader ------------------------------------------------------

// Parses the text of one .spec file. On success fills slot and model and
// returns true; otherwise returns false with a short description in error
// (slot outside 0..254, token too long, file ends before its last face,
// number that is not finite in single precision).
bool parse_model_spec(std::string_view text, int& slot, Model& model, std::string& error);

// Reads directory + name into its slot of table; false with a one-line
// message in error ("Error opening spec file %s\n" or a parse error).
bool read_model_file(const std::string& directory, const char* name, ModelTable& table,
                     std::string& error);

// read_model_file into g_models; prints the message and exits with status 1
// on failure.
void load_model_file(const std::string& directory, const char* name);

// Loads the seven files in order, mirrors the ship in z, normalises slots 0
// and 6..9 to radius 1. false with a one-line message if a file fails or a
// needed slot stays empty.
bool read_model_set(const std::string& directory, ModelTable& table, std::string& error);

// read_model_set from "<data prefix>/zbx3d/models/" into g_models; prints the
// message and exits with status 1 on failure.
void load_model_set();

// Flips the sign of coordinate axis (0 x, 1 y, 2 z) of every position.
void mirror_model(Model& m, int axis);
// Multiplies every position by factor.
void scale_model(Model& m, float factor);
// Largest distance of any position from the origin (single precision).
float model_radius(const Model& m);
// Scales to radius 1; leaves a model alone whose radius is 0 or not finite,
// or whose factor 1/radius is 0 or not finite.
void normalise_model(Model& m);

// The model to draw for an object of this kind in this object slot: the
// asteroid mesh of the slot for KIND_ASTEROID, else the table slot of the
// kind; nullptr (draw nothing) when that is empty or out of range.
const Model* model_for_kind(int kind, int objectSlot);

// --- Procedural asteroid meshes ----------------------------------------------

// Source of random numbers (the C library's rand unless a test says otherwise).
using RandomSource = int (*)();
// The process-wide generator: std::rand().
int system_random();

// The regular octahedron in face form, faces ordered by (sx, sy, sz).
Model make_octahedron();
// Face form -> welded form, merging corners at bit-equal positions.
void weld_model(Model& m);
// Moves every shared coordinate by rand%256 * a/512 - a/2 (never upwards).
void perturb_vertices(Model& m, float amplitude, RandomSource random = system_random);
// Splits every welded face into four, midpoints pushed to the mean length.
void subdivide_model(Model& m);
// Gives every shared vertex a random grey between 0.1 and about 0.3.
void shade_vertices(Model& m, RandomSource random = system_random);
// Moves the shared vertices so that their mean is the origin.
void centre_model(Model& m);
// The whole recipe: 258 shared vertices, 512 faces.
Model build_asteroid(RandomSource random = system_random);
// build_asteroid into g_asteroid_meshes[slot].
void build_asteroid_mesh(int slot, RandomSource random = system_random);

}  // namespace zbx
