#include "render/core/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "test_util.h"

namespace zbx {
namespace {

// A face line in the usual layout: a free-text line, then one vertex a line.
std::string face(float x0, float z0, float colour = 0.5f) {
  std::string c = std::to_string(colour);
  return "face\n" + std::to_string(x0) + ":0:" + std::to_string(z0) + ":" + c + ":" + c + ":" + c +
         "\n0:1:0:1:0:0\n0:0:1:0:0:1\n";
}

TEST(SpecReader, ReadsSlotFacesPositionsAndColours) {
  int slot = -1;
  Model m;
  std::string error;
  ASSERT_TRUE(parse_model_spec("7\n2\n" + face(2, 3, 0.25f) + face(-1, -4), slot, m, error))
      << error;
  EXPECT_EQ(slot, 7);
  ASSERT_EQ(face_count(m), 2);
  EXPECT_FALSE(is_welded(m));
  Face f = face_corners(m, 0);
  EXPECT_FLOAT_EQ(f.position[0].x, 2);
  EXPECT_FLOAT_EQ(f.position[0].z, 3);
  EXPECT_FLOAT_EQ(f.colour[0].g, 0.25f);
  EXPECT_FLOAT_EQ(f.position[1].y, 1);
  EXPECT_FLOAT_EQ(f.colour[1].r, 1);
  EXPECT_FLOAT_EQ(f.colour[2].b, 1);
  EXPECT_FLOAT_EQ(face_corners(m, 1).position[0].z, -4);
}

TEST(SpecReader, TokenRulesFollowAtoiAndStrtod) {
  // Blank before the number, text after it, an empty token, CR-LF line ends,
  // colons and newlines mixed, and the last number ending at the end of file.
  std::string text = "2\r\n1\r\nthe only face\r\n 0.5:0.5x::1:1:1\r\n1\n2\n3:0:0:0:4:5:6:1:1:7";
  int slot = -1;
  Model m;
  std::string error;
  ASSERT_TRUE(parse_model_spec(text, slot, m, error)) << error;
  EXPECT_EQ(slot, 2);
  Face f = face_corners(m, 0);
  EXPECT_FLOAT_EQ(f.position[0].x, 0.5f);
  EXPECT_FLOAT_EQ(f.position[0].y, 0.5f);
  EXPECT_FLOAT_EQ(f.position[0].z, 0.0f);
  EXPECT_FLOAT_EQ(f.position[1].x, 1);
  EXPECT_FLOAT_EQ(f.position[1].y, 2);
  EXPECT_FLOAT_EQ(f.position[1].z, 3);
  EXPECT_FLOAT_EQ(f.position[2].x, 4);
  EXPECT_FLOAT_EQ(f.colour[2].b, 7);
}

TEST(SpecReader, ZeroOrNegativeCountGivesAModelWithoutFaces) {
  int slot = -1;
  Model m;
  std::string error;
  ASSERT_TRUE(parse_model_spec("3:-5", slot, m, error)) << error;
  EXPECT_EQ(face_count(m), 0);
  EXPECT_EQ(model_radius(m), 0.0f);
  normalise_model(m);
  EXPECT_EQ(face_count(m), 0);
}

TEST(SpecReader, RejectsMalformedFilesWithAReason) {
  const std::string good = face(1, 1);
  struct Case {
    std::string text, reason;
  } cases[] = {
      {"255\n1\n" + good, "slot 255 outside 0..254"},
      {"-1\n1\n" + good, "slot -1 outside"},
      {"99999999999999999999\n1\n" + good, "outside 0..254"},
      {"", "file ends too early"},
      {"0\n", "file ends too early"},
      {"0\n2\n" + good, "file ends too early in face 2 of 2"},
      {"0\n2000000000\n" + good, "in face 2 of 2000000000"},
      {"0\n1\nface", "file ends too early in face 1"},
      {"0\n1\nface\n1:2:3", "in face 1 of 1"},
      {"0\n1\n" + std::string(80, '1') + "\n", "file ends too early"},
      {"0\n1\nf\n" + std::string(80, '1') + ":0:0:0:0:0\n", "token longer than 79"},
      {std::string(200, '7'), "token longer than 79"},
      {"0\n1\nf\n1e300:0:0:0:0:0\n0:0:0:0:0:0\n0:0:0:0:0:0\n", "number out of range"},
      {"0\n1\nf\nnan:0:0:0:0:0\n0:0:0:0:0:0\n0:0:0:0:0:0\n", "number out of range"},
  };
  for (const Case& c : cases) {
    int slot = -1;
    Model m;
    std::string error;
    EXPECT_FALSE(parse_model_spec(c.text, slot, m, error)) << c.text.substr(0, 40);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error << " / expected " << c.reason;
  }
  // Exactly 79 characters is still a token.
  int slot = -1;
  Model m;
  std::string error;
  EXPECT_TRUE(parse_model_spec(
      "0\n1\nf\n" + std::string(78, '0') + "1:0:0:0:0:0\n0:0:0:0:0:0\n0:0:0:0:0:0", slot, m, error))
      << error;
}

TEST(ModelFiles, LaterFileForTheSameSlotWinsAndErrorsNameTheFile) {
  test::TempDir tmp;
  tmp.write("one.spec", "4\n1\n" + face(1, 1));
  tmp.write("two.spec", "4\n1\n" + face(9, 1));
  tmp.write("bad.spec", "300\n0\n");
  ModelTable table;
  std::string error;
  ASSERT_TRUE(read_model_file(tmp.path() + "/", "one.spec", table, error));
  ASSERT_TRUE(read_model_file(tmp.path() + "/", "two.spec", table, error));
  ASSERT_TRUE(table[4]);
  EXPECT_FLOAT_EQ(face_corners(*table[4], 0).position[0].x, 9);

  EXPECT_FALSE(read_model_file(tmp.path() + "/", "missing.spec", table, error));
  EXPECT_EQ(error, "Error opening spec file missing.spec\n");
  EXPECT_FALSE(read_model_file(tmp.path() + "/", "bad.spec", table, error));
  EXPECT_EQ(error, "Error in spec file bad.spec: slot 300 outside 0..254\n");
  EXPECT_FALSE(table[254]);
}

TEST(ModelFiles, SetMirrorsTheShipAndNormalisesShipAndLetters) {
  test::TempDir tmp;
  const char* names[] = {"ship.spec", "shot.spec", "a.spec",   "h.spec",
                         "n.spec",    "s.spec",    "nuke.spec"};
  int slots[] = {0, 2, 7, 9, 8, 6, 10};
  for (int i = 0; i < 7; ++i) tmp.write(names[i], std::to_string(slots[i]) + "\n1\n" + face(3, 4));
  ModelTable table;
  std::string error;
  ASSERT_TRUE(read_model_set(tmp.path() + "/", table, error)) << error;
  for (int s : {0, 6, 7, 8, 9}) EXPECT_NEAR(model_radius(*table[s]), 1.0f, 1e-6f) << s;
  for (int s : {2, 10}) EXPECT_FLOAT_EQ(model_radius(*table[s]), 5.0f) << s;
  EXPECT_FLOAT_EQ(face_corners(*table[0], 0).position[0].z, -0.8f);  // (3, 0, 4) -> z -4/5
  EXPECT_FLOAT_EQ(face_corners(*table[6], 0).position[0].z, 0.8f);

  // A needed slot that no file fills is reported instead of left for the client.
  tmp.write("nuke.spec", "11\n1\n" + face(3, 4));
  ModelTable partial;
  EXPECT_FALSE(read_model_set(tmp.path() + "/", partial, error));
  EXPECT_EQ(error, "Model slot 10 not filled by any spec file\n");
}

TEST(ModelOps, MirrorScaleRadiusInBothForms) {
  Model m;
  int slot;
  std::string error;
  ASSERT_TRUE(parse_model_spec("0\n1\n" + face(0, 2), slot, m, error));
  mirror_model(m, 0);
  EXPECT_TRUE(std::signbit(face_corners(m, 0).position[0].x));  // 0 becomes -0
  mirror_model(m, 2);
  EXPECT_FLOAT_EQ(face_corners(m, 0).position[0].z, -2);
  EXPECT_FLOAT_EQ(face_corners(m, 0).position[2].z, -1);
  scale_model(m, 3);
  EXPECT_FLOAT_EQ(model_radius(m), 6);

  Model w = make_octahedron();
  weld_model(w);
  scale_model(w, 2);  // shared corners scaled once, not once per face
  EXPECT_FLOAT_EQ(model_radius(w), 2);
  mirror_model(w, 1);
  EXPECT_FLOAT_EQ(w.vertices[1].position.y, 2);
}

TEST(ModelOps, NormalisingLeavesModelsWithoutAUsableRadiusAlone) {
  Model m;
  int slot;
  std::string error;
  ASSERT_TRUE(parse_model_spec("0\n1\nf\n0:0:0:1:1:1\n0:0:0:1:1:1\n0:0:0:1:1:1", slot, m, error));
  normalise_model(m);
  for (const Vector3f& p : face_corners(m, 0).position) {
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_FALSE(std::isnan(p.y));
  }

  // Its radius overflows to infinity: 1/inf is 0 and once collapsed it to a point.
  ASSERT_TRUE(
      parse_model_spec("0\n1\nf\n2e19:0:0:1:1:1\n0:1:0:1:1:1\n0:0:1:1:1:1", slot, m, error));
  ASSERT_TRUE(std::isinf(model_radius(m)));
  normalise_model(m);
  EXPECT_EQ(face_corners(m, 0).position[0].x, 2e19f);
  EXPECT_EQ(face_corners(m, 0).position[1].y, 1.0f);
}

TEST(ModelLookup, KindsFindTheirSlotsAndEmptySlotsGiveNothing) {
  g_models = {};
  g_models[2] = std::make_unique<Model>();
  g_asteroid_meshes[17] = std::make_unique<Model>();
  EXPECT_EQ(model_for_kind(KIND_SHOT, 40), g_models[2].get());
  EXPECT_EQ(model_for_kind(KIND_ASTEROID, 17), g_asteroid_meshes[17].get());
  EXPECT_EQ(model_for_kind(KIND_ASTEROID, 512), nullptr);
  EXPECT_EQ(model_for_kind(KIND_NUKE, 1), nullptr);
  EXPECT_EQ(model_for_kind(-1, 1), nullptr);
  EXPECT_EQ(model_for_kind(255, 1), nullptr);
  g_models = {};
  g_asteroid_meshes[17].reset();
}

TEST(ShippedModels, AllSevenLoadWithTheirSlotsAndSizes) {
  const std::string dir = test::shipped_path("models/");
  ModelTable table;
  std::string error;
  ASSERT_TRUE(read_model_set(dir, table, error)) << error;
  for (int s : {0, 6, 7, 8, 9}) EXPECT_NEAR(model_radius(*table[s]), 1.0f, 1e-5f) << s;
  for (int s : NEEDED_MODEL_SLOTS) EXPECT_GE(face_count(*table[s]), 4) << s;
  // The ship's nose points along -z once mirrored: its farthest point in z is
  // forward and it is longer than it is tall.
  float minZ = 0, maxZ = 0, maxY = 0;
  const Model& ship = *table[0];
  for (int k = 0; k < face_count(ship); ++k) {
    for (const Vector3f& p : face_corners(ship, k).position) {
      minZ = std::min(minZ, p.z);
      maxZ = std::max(maxZ, p.z);
      maxY = std::max(maxY, std::fabs(p.y));
    }
  }
  EXPECT_LT(-minZ, 1.01f);
  EXPECT_GT(-minZ, maxZ);
  EXPECT_LT(maxY, -minZ);
  // Shot and nuke keep their file sizes: a few units across, scaled by the
  // object size at drawing time.
  EXPECT_GT(model_radius(*table[2]), 1.0f);
  EXPECT_GT(model_radius(*table[10]), 0.5f);
}

}  // namespace
}  // namespace zbx
