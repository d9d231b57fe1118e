// The system libraries the runtime links: each answers a call, so a missing or broken link
// fails here rather than in the unit that first uses it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <curl/curl.h>
#include <gif_lib.h>
#include <jpeglib.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>
#include <zstd.h>

TEST(Libraries, EachAnswers) {
  EXPECT_EQ(zlibVersion()[0], ZLIB_VERSION[0]);
  EXPECT_GE(ZSTD_versionNumber(), 10400u);
  EXPECT_NE(OpenSSL_version_num(), 0u);
  EXPECT_NE(curl_version(), nullptr);
  EXPECT_NE(png_access_version_number(), 0u);
  EXPECT_NE(TIFFGetVersion(), nullptr);
  EXPECT_NE(GifErrorString(D_GIF_ERR_OPEN_FAILED), nullptr);
  jpeg_error_mgr err;
  EXPECT_EQ(jpeg_std_error(&err), &err);
}

// Two of them on known data: the digest and the compressed round trip.
TEST(Libraries, KnownData) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>("abc"), 3, digest);
  EXPECT_EQ(digest[0], 0xBA);
  EXPECT_EQ(digest[31], 0xAD);
  EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>("abc"), 3), 0x352441C2u);
  const char text[] = "kel kel kel kel kel kel";
  char packed[128], back[64];
  size_t n = ZSTD_compress(packed, sizeof packed, text, sizeof text, 3);
  ASSERT_FALSE(ZSTD_isError(n));
  size_t m = ZSTD_decompress(back, sizeof back, packed, n);
  ASSERT_EQ(m, sizeof text);
  EXPECT_EQ(std::memcmp(back, text, m), 0);
}
