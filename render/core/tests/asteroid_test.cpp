#include <gtest/gtest.h>

#include <cmath>

#include "render/core/model.h"
#include "test_util.h"

namespace zbx {
namespace {

using test::lcg;
using test::reseed;
int always_128() {
  ++test::g_random.draws;
  return 128;
}

bool same(const Vector3f& a, const Vector3f& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

TEST(Asteroid, WeldingTheOctahedronGivesSixCornersInCreationOrder) {
  Model m = make_octahedron();
  ASSERT_EQ(face_count(m), 8);
  // Face index 4[sx=+1] + 2[sy=+1] + [sz=+1].
  Face f5 = face_corners(m, 5);
  EXPECT_TRUE(same(f5.position[0], {1, 0, 0}));
  EXPECT_TRUE(same(f5.position[1], {0, -1, 0}));
  EXPECT_TRUE(same(f5.position[2], {0, 0, 1}));
  weld_model(m);
  const Vector3f order[] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
  ASSERT_EQ(m.vertices.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(same(m.vertices[i].position, order[i])) << i;
  EXPECT_TRUE(m.faces.empty());
  EXPECT_TRUE(same(face_corners(m, 5).position[2], {0, 0, 1}));
}

TEST(Asteroid, VertexAndFaceCountsThroughTheRecipe) {
  reseed(7);
  Model m = make_octahedron();
  weld_model(m);
  EXPECT_EQ(m.vertices.size(), 6u);
  perturb_vertices(m, 0.3f, lcg);
  subdivide_model(m);
  EXPECT_EQ(m.vertices.size(), 18u);
  EXPECT_EQ(face_count(m), 32);
  perturb_vertices(m, 0.6f, lcg);
  shade_vertices(m, lcg);
  subdivide_model(m);
  EXPECT_EQ(m.vertices.size(), 66u);
  perturb_vertices(m, 0.3f, lcg);
  subdivide_model(m);
  EXPECT_EQ(m.vertices.size(), 258u);
  EXPECT_EQ(face_count(m), 512);
  // 6 + 18 + 66 corners perturbed (three draws each) and 18 shaded.
  EXPECT_EQ(test::g_random.draws, 3 * 6 + 3 * 18 + 18 + 3 * 66);
}

TEST(Asteroid, FinishedMeshIsGreyCentredAndAboutUnitSize) {
  reseed(99);
  Model m = build_asteroid(lcg);
  EXPECT_EQ(test::g_random.draws, 288);
  ASSERT_EQ(m.vertices.size(), 258u);
  ASSERT_EQ(face_count(m), 512);
  Vector3f sum;
  for (const MeshVertex& v : m.vertices) {
    EXPECT_EQ(v.colour.r, v.colour.g);
    EXPECT_EQ(v.colour.g, v.colour.b);
    EXPECT_GE(v.colour.r, 0.1f);
    EXPECT_LE(v.colour.r, 0.3f);
    sum.x += v.position.x;
    sum.y += v.position.y;
    sum.z += v.position.z;
  }
  EXPECT_NEAR(sum.x / 258, 0, 1e-5);
  EXPECT_NEAR(sum.z / 258, 0, 1e-5);
  EXPECT_NEAR(model_radius(m), 1.0f, 0.35f);
  for (int k = 0; k < 512; ++k)
    for (int i = 0; i < 3; ++i) EXPECT_LT(m.welded[k].vertex[i], 258u);
}

TEST(Asteroid, AConstantGeneratorGivesTheGrey0Point2Everywhere) {
  reseed(0);
  Model m = build_asteroid(always_128);
  for (const MeshVertex& v : m.vertices) {
    EXPECT_EQ(v.colour.r, static_cast<float>(128 / 1280.0 + 0.1));
    EXPECT_FLOAT_EQ(v.colour.b, 0.2f);
  }
}

TEST(Asteroid, NewCornersCarryTheMeanGreyOfTheirEdge) {
  reseed(3);
  Model m = make_octahedron();
  weld_model(m);
  perturb_vertices(m, 0.3f, lcg);
  subdivide_model(m);
  perturb_vertices(m, 0.6f, lcg);
  shade_vertices(m, lcg);
  Model before = m;
  subdivide_model(m);
  for (int k = 0; k < face_count(before); ++k) {
    Face old = face_corners(before, k);
    Face m0 = face_corners(m, 4 * k + 3);  // M0, M1, M2
    for (int i = 0; i < 3; ++i) {
      const Colour3f& a = old.colour[i];
      const Colour3f& b = old.colour[(i + 1) % 3];
      EXPECT_EQ(m0.colour[i].r, (a.r + b.r) * 0.5f);
      // The midpoint keeps the mean distance of the edge's ends.
      auto len = [](const Vector3f& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z); };
      EXPECT_NEAR(len(m0.position[i]), (len(old.position[i]) + len(old.position[(i + 1) % 3])) / 2,
                  1e-5);
    }
    EXPECT_TRUE(same(face_corners(m, 4 * k).position[1], old.position[0]));
    EXPECT_TRUE(same(face_corners(m, 4 * k + 1).position[1], old.position[1]));
    EXPECT_TRUE(same(face_corners(m, 4 * k + 2).position[1], old.position[2]));
  }
}

TEST(Asteroid, PerturbationOnlyEverMovesDownwards) {
  reseed(11);
  Model m = make_octahedron();
  weld_model(m);
  Model before = m;
  perturb_vertices(m, 0.3f, lcg);
  for (std::size_t i = 0; i < m.vertices.size(); ++i) {
    const Vector3f& a = before.vertices[i].position;
    const Vector3f& b = m.vertices[i].position;
    for (float d : {b.x - a.x, b.y - a.y, b.z - a.z}) {
      EXPECT_LE(d, -0.3f / 512 + 1e-7f);
      EXPECT_GE(d, -0.15f - 1e-7f);
    }
  }
  // Steps that need shared corners leave a face-form model alone.
  Model faces = make_octahedron();
  test::g_random.draws = 0;
  perturb_vertices(faces, 0.3f, lcg);
  shade_vertices(faces, lcg);
  centre_model(faces);
  EXPECT_EQ(test::g_random.draws, 0);
  EXPECT_TRUE(same(face_corners(faces, 0).position[0], {-1, 0, 0}));
}

TEST(Asteroid, SuccessiveMeshesDifferAndASeedRepeatsItsRock) {
  reseed(5);
  build_asteroid_mesh(0, lcg);
  build_asteroid_mesh(1, lcg);
  reseed(5);
  Model again = build_asteroid(lcg);
  ASSERT_TRUE(g_asteroid_meshes[0] && g_asteroid_meshes[1]);
  EXPECT_TRUE(same(again.vertices[100].position, g_asteroid_meshes[0]->vertices[100].position));
  EXPECT_FALSE(same(g_asteroid_meshes[1]->vertices[100].position,
                    g_asteroid_meshes[0]->vertices[100].position));
  build_asteroid_mesh(512, lcg);  // outside the table: ignored
  g_asteroid_meshes[0].reset();
  g_asteroid_meshes[1].reset();
}

TEST(Asteroid, AMidpointAtTheOriginStaysFinite) {
  Model m;
  Face f;
  f.position = {{{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}}};
  m.faces.push_back(f);
  weld_model(m);
  subdivide_model(m);
  ASSERT_EQ(m.vertices.size(), 6u);
  for (const MeshVertex& v : m.vertices) EXPECT_TRUE(std::isfinite(v.position.x));
}

}  // namespace
}  // namespace zbx
