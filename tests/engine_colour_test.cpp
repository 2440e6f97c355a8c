// Embedded colour profiles while memory runs out: every allocation of a
// request that makes its colour tables (the colour library's included, and
// a 16-bit document's wider tables) fails in turn, with no tables kept from
// before.
#include "engine/channels/colour.h"
#include "engine_test_support.h"
#include "test_profiles.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer

Bytes RgbDocument(const Bytes& profile, uint16_t depth) {
  PsdSpec s = MakeDocument(3, depth, 3, 9, 6, kPackBits,
                           [depth](uint32_t c, uint32_t x, uint32_t y) {
                             const uint32_t v = (x * 29 + y * 41 + c * 80);
                             return depth == 16 ? v * 97 & 0xffff : v & 0xff;
                           });
  Resource icc;
  icc.id = 1039;
  icc.data = profile;
  if (!profile.empty()) s.resources.push_back(icc);
  return WritePsd(s);
}

TEST(ColourTest, EveryAllocationFailureWhileMakingTablesIsCleanedUp) {
  // Curves from black: matrix and curves; lifted from black: the cube.
  const double lifted[] = {2.2, 0.9, 0.1, 0.5, 0.05, 0.02, 0.03};
  const Bytes profiles[] = {
      testprofiles::WideProfileBytes(cmsBuildGamma(nullptr, 2.2)),
      testprofiles::WideProfileBytes(
          cmsBuildParametricToneCurve(nullptr, 5, lifted))};
  for (uint16_t depth : {8, 16}) {
    const Decoded plain = Decode(RgbDocument({}, depth));
    for (const Bytes& profile : profiles) {
      const Bytes doc = RgbDocument(profile, depth);
      engine::ReleaseKeptConversions();
      const Decoded normal = Decode(doc);
      ASSERT_EQ(normal.result, 0);
      EXPECT_NE(normal.pixels, plain.pixels);  // converted
      bool finished = false;
      for (int64_t n = 1; n <= 4000 && !finished; ++n) {
        engine::ReleaseKeptConversions();
        PlatformFailAllocation(n);
        const Decoded d = Decode(doc);
        PlatformFailAllocation(0);
        if (d.result == 0) {
          EXPECT_EQ(d.pixels, normal.pixels) << "failing allocation " << n;
          finished = true;
        } else {
          ASSERT_EQ(d.result, 4) << "failing allocation " << n;
          EXPECT_FALSE(d.has_pixels) << "failing allocation " << n;
        }
      }
      EXPECT_TRUE(finished) << "still failing after 4000";
    }
  }
  engine::ReleaseKeptConversions();
}

TEST(ColourTest, CompositeOfADeepDocumentShowsItsLayersSamples) {
  // A dark gradient in a linear-light profile: an opaque layer composited
  // shows what the merged picture of the same samples shows.
  const uint32_t w = 200;
  auto dark = [](uint32_t c, uint32_t x, uint32_t) { return x * 7 + c * 3; };
  PsdSpec s = MakeDocument(3, 16, 3, w, 2, kPackBits, dark);
  Resource icc;
  icc.id = 1039;
  icc.data = testprofiles::WideProfileBytes(cmsBuildGamma(nullptr, 1.0));
  s.resources.push_back(icc);
  s.layers = {MakeLayer(0, 0, 2, w, {0, 1, 2}, kRaw,
                        [&](int16_t id, uint32_t x, uint32_t y) {
                          return dark(static_cast<uint32_t>(id), x, y);
                        })};
  const Decoded merged = Decode(WritePsd(s));
  s.resources.push_back(VersionInfoResource(false));
  const Decoded composite = Decode(WritePsd(s));
  ASSERT_EQ(merged.result, 0);
  EXPECT_EQ(composite.pixels, merged.pixels);
  engine::ReleaseKeptConversions();
}

}  // namespace
