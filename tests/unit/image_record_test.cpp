// The image layer's records: locks on released pixels, the drawing cache across collections,
// the sweep of unreachable records, nearest-neighbour scaling and draw-into-quad.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/extern.h"
#include "runtime/gc.h"
#include "runtime/io/image_codec.h"
#include "runtime/io/image_geometry.h"
#include "runtime/unwind.h"
#include "tests/unit/datatype_fixture.h"

namespace kel::test {
namespace {

class ImageRecordTest : public DatatypeTest {
 protected:
  void SetUp() override {
    DatatypeTest::SetUp();
    image_codec::init_factory();
    open_frame();
  }

  // A rooted image! of width x height pixels, pixel i = 0xFF000000 | i.
  Cell* image(int32_t w, int32_t h) {
    Cell* c = stack::reserve_cell();
    cell::set_none(c);
    uint8_t white[3] = {255, 255, 255};
    Cell colour;
    tuple::init_cell(&colour, 3, white);
    image::init_cell(c, image_codec::create_bitmap(w, h, nullptr, 0, nullptr, 0, &colour));
    uint32_t* p = image_codec::lock_pixels(c, true);
    for (int32_t i = 0; i < w * h; ++i) p[i] = 0xFF000000u | uint32_t(i);
    return c;
  }

  template <class F>
  std::string error_of(F&& f) {
    Cell w{T_WORD, 0, 10, 0xFFFFFFFF};
    stack::State saved = stack::state();
    stack::push_native_frame(&w);
    stack::push_try_frame(&w);
    std::string what = "none";
    try {
      f();
    } catch (const Unwind& u) {
      if (u.code != unwind_code::ERROR) throw;
      const error::Pending& p = error::pending();
      what = std::to_string(p.category) + "/" + std::to_string(p.id);
    }
    stack::state().top = saved.top;
    stack::state().base = saved.base;
    stack::state().frames_top = saved.frames_top;
    return what;
  }
};

std::string id_of(ErrorPos e) { return std::to_string(e.category) + "/" + std::to_string(e.id); }

TEST_F(ImageRecordTest, LockOnReleasedPixelsRaisesBadMedia) {
  Cell* img = image(2, 2);
  extern_::release_entry(int32_t(img->w2) - 1, true);
  EXPECT_EQ(image_codec::record_of(img->w2), nullptr);
  EXPECT_EQ(error_of([&] { image_codec::lock_pixels(img, false); }), id_of(err::access::bad_media));
  EXPECT_EQ(error_of([&] { image_codec::get_pixel(img->w2, 0); }), id_of(err::access::bad_media));
}

TEST_F(ImageRecordTest, AUsedCacheSurvivesOneCollectionAnUnusedOneIsDropped) {
  Cell* img = image(2, 1);
  image_codec::Record* r = image_codec::record_of(img->w2);
  image_codec::drawing_copy(img->w2);
  ASSERT_NE(r->cache, nullptr);
  EXPECT_TRUE(r->flags & image_codec::FLAG_CACHE_USED);
  gc::collect();  // first mark: the use is forgotten, the cache kept
  EXPECT_NE(r->cache, nullptr);
  EXPECT_FALSE(r->flags & image_codec::FLAG_CACHE_USED);
  gc::collect();  // unused since: dropped
  EXPECT_EQ(r->cache, nullptr);
  EXPECT_EQ(image_codec::record_of(img->w2), r) << "the record itself stays while reachable";
}

TEST_F(ImageRecordTest, DrawingCopyIsPremultipliedAndAWriteDropsIt) {
  Cell* img = image(1, 1);
  image_codec::set_pixel(img->w2, 0, 0x80FF8040u);
  const uint32_t* copy = image_codec::drawing_copy(img->w2);
  EXPECT_EQ(copy[0], 0x80804020u);
  image_codec::lock_pixels(img, true);
  EXPECT_EQ(image_codec::record_of(img->w2)->cache, nullptr);
}

TEST_F(ImageRecordTest, UnreachableRecordsAreReleasedBySweep) {
  Cell* img = image(3, 3);
  uint32_t id = img->w2;
  cell::set_none(img);
  gc::collect();
  EXPECT_EQ(image_codec::record_of(id), nullptr);
}

TEST_F(ImageRecordTest, ScaleIsNearestNeighbour) {
  Cell* img = image(2, 1);
  Cell* big = image::push_new(img, 4, 2);
  ASSERT_EQ(image::width_of(big), 4);
  ASSERT_EQ(image::height_of(big), 2);
  const uint32_t* p = image_codec::lock_pixels(big, false);
  std::vector<uint32_t> got(p, p + 8);
  EXPECT_EQ(got, (std::vector<uint32_t>{0xFF000000u, 0xFF000000u, 0xFF000001u, 0xFF000001u,
                                        0xFF000000u, 0xFF000000u, 0xFF000001u, 0xFF000001u}));
  Cell* none = image::push_new(img, 0, 3);
  EXPECT_EQ(none->w2, 0u);
}

TEST_F(ImageRecordTest, DrawIntoQuadPlacesAndFlips) {
  Cell* img = image(2, 2);
  Cell* corners = block::push_empty(2);
  Cell a, b;
  pair::init_cell(&a, 10, 20);
  pair::init_cell(&b, 12, 22);
  block::append_copy(corners, &a);
  block::append_copy(corners, &b);
  Cell placement{T_NONE, 0, 0, 0};
  Cell* out = image::draw_into_quad(img, nullptr, corners, &placement);
  ASSERT_EQ(out->w2 != 0, true);
  EXPECT_EQ(pair::x_of(&placement), 10);
  EXPECT_EQ(pair::y_of(&placement), 20);
  const uint32_t* p = image_codec::lock_pixels(out, false);
  EXPECT_EQ(p[0], 0xFF000000u);
  EXPECT_EQ(p[1], 0xFF000001u);
  // The same corners in flipped order (right before left): mirrored left to right.
  Cell* flipped = block::push_empty(2);
  pair::init_cell(&a, 12, 20);
  pair::init_cell(&b, 10, 22);
  block::append_copy(flipped, &a);
  block::append_copy(flipped, &b);
  Cell* mirrored = image::draw_into_quad(img, nullptr, flipped, &placement);
  ASSERT_NE(mirrored->w2, 0u);
  const uint32_t* m = image_codec::lock_pixels(mirrored, false);
  EXPECT_EQ(m[0], 0xFF000001u);
  EXPECT_EQ(m[1], 0xFF000000u);
  EXPECT_EQ(pair::x_of(&placement), 10);
}

}  // namespace
}  // namespace kel::test
