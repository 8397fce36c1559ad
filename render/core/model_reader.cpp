// The .spec reader and the operations applied to models after loading.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "render/core/model.h"

namespace zbx {

ModelTable g_models;

namespace {

// Walks the text one character at a time; a token ends at ':' or '\n' or the
// end of the text, and the terminator is consumed.
struct TokenReader {
  std::string_view text;
  std::size_t at = 0;
  std::string error;

  bool at_end() const { return at >= text.size(); }

  // false at the end of the text before any character, or for a token longer
  // than MAX_TOKEN_LENGTH.
  bool token(char (&buf)[MAX_TOKEN_LENGTH + 1]) {
    if (at_end()) {
      error = "file ends too early";
      return false;
    }
    std::size_t n = 0;
    while (!at_end()) {
      char c = text[at++];
      if (c == ':' || c == '\n') break;
      if (n == MAX_TOKEN_LENGTH) {
        error = "token longer than 79 characters";
        return false;
      }
      buf[n++] = c;
    }
    buf[n] = '\0';
    return true;
  }

  // Discards everything up to and including the next newline.
  bool skip_line() {
    while (!at_end()) {
      if (text[at++] == '\n') return true;
    }
    error = "file ends too early";
    return false;
  }
};

// atoi without its undefined overflow: out-of-range values clamp.
int to_int(const char* s) {
  errno = 0;
  long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

bool to_float(const char* s, float& out) {
  double d = std::strtod(s, nullptr);
  if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) return false;
  out = static_cast<float>(d);
  return true;
}

}  // namespace

bool parse_model_spec(std::string_view text, int& slot, Model& model, std::string& error) {
  TokenReader in{text, 0, {}};
  char buf[MAX_TOKEN_LENGTH + 1];
  if (!in.token(buf)) {
    error = in.error;
    return false;
  }
  int s = to_int(buf);
  if (s < 0 || s >= MODEL_SLOTS) {
    error = "slot " + std::to_string(s) + " outside 0..254";
    return false;
  }
  if (!in.token(buf)) {
    error = in.error;
    return false;
  }
  int count = to_int(buf);
  Model m;
  // Grown face by face: the count is only a promise until the faces are read.
  for (int k = 0; k < count; ++k) {
    Face f;
    bool ok = in.skip_line();
    for (int v = 0; ok && v < 3; ++v) {
      float n[6];
      for (int i = 0; ok && i < 6; ++i) {
        ok = in.token(buf);
        if (ok && !to_float(buf, n[i])) {
          in.error = "number out of range";
          ok = false;
        }
      }
      if (ok) {
        f.position[v] = {n[0], n[1], n[2]};
        f.colour[v] = {n[3], n[4], n[5]};
      }
    }
    if (!ok) {
      error = in.error + " in face " + std::to_string(k + 1) + " of " + std::to_string(count);
      return false;
    }
    m.faces.push_back(f);
  }
  slot = s;
  model = std::move(m);
  return true;
}

bool read_model_file(const std::string& directory, const char* name, ModelTable& table,
                     std::string& error) {
  std::string path = directory + name;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = std::string("Error opening spec file ") + name + "\n";
    return false;
  }
  // Model files are a few kilobytes; anything past 16 MB is not one.
  constexpr std::size_t LIMIT = 16u << 20;
  std::string text;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= LIMIT) {
    text.append(chunk, got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  std::string problem;
  int slot = 0;
  auto model = std::make_unique<Model>();
  if (failed) {
    problem = "read error";
  } else if (text.size() > LIMIT) {
    problem = "file too large";
  } else if (parse_model_spec(text, slot, *model, problem)) {
    table[static_cast<std::size_t>(slot)] = std::move(model);
    return true;
  }
  error = std::string("Error in spec file ") + name + ": " + problem + "\n";
  return false;
}

bool read_model_set(const std::string& directory, ModelTable& table, std::string& error) {
  for (const char* name : MODEL_FILES) {
    if (!read_model_file(directory, name, table, error)) return false;
  }
  for (int slot : NEEDED_MODEL_SLOTS) {
    if (!table[static_cast<std::size_t>(slot)]) {
      error = "Model slot " + std::to_string(slot) + " not filled by any spec file\n";
      return false;
    }
  }
  mirror_model(*table[0], 2);
  for (int slot : {0, 6, 7, 8, 9}) normalise_model(*table[static_cast<std::size_t>(slot)]);
  return true;
}

void mirror_model(Model& m, int axis) {
  auto flip = [axis](Vector3f& p) {
    float* c = axis == 0 ? &p.x : axis == 1 ? &p.y : &p.z;
    *c = -*c;
  };
  if (axis < 0 || axis > 2) return;
  if (is_welded(m)) {
    for (MeshVertex& v : m.vertices) flip(v.position);
  } else {
    for (Face& f : m.faces)
      for (Vector3f& p : f.position) flip(p);
  }
}

void scale_model(Model& m, float factor) {
  auto scale = [factor](Vector3f& p) {
    p.x *= factor;
    p.y *= factor;
    p.z *= factor;
  };
  if (is_welded(m)) {
    for (MeshVertex& v : m.vertices) scale(v.position);
  } else {
    for (Face& f : m.faces)
      for (Vector3f& p : f.position) scale(p);
  }
}

float model_radius(const Model& m) {
  float r = 0.0f;
  auto consider = [&r](const Vector3f& p) {
    float len = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    if (len > r) r = len;
  };
  if (is_welded(m)) {
    for (const MeshVertex& v : m.vertices) consider(v.position);
  } else {
    for (const Face& f : m.faces)
      for (const Vector3f& p : f.position) consider(p);
  }
  return r;
}

void normalise_model(Model& m) {
  const float r = model_radius(m);
  // A model squeezed into the origin has no size to normalise (1/0 would turn
  // every coordinate into NaN), and one whose radius overflowed would be
  // scaled by 1/inf = 0 into a point.
  if (!(r > 0.0f) || !std::isfinite(r)) return;
  const float factor = 1.0f / r;
  if (factor != 0.0f && std::isfinite(factor)) scale_model(m, factor);
}

const Model* model_for_kind(int kind, int objectSlot) {
  if (kind == KIND_ASTEROID) {
    if (objectSlot < 0 || objectSlot >= MAX_OBJECTS) return nullptr;
    return g_asteroid_meshes[static_cast<std::size_t>(objectSlot)].get();
  }
  if (kind < 0 || kind >= MODEL_SLOTS) return nullptr;
  return g_models[static_cast<std::size_t>(kind)].get();
}

}  // namespace zbx
