// The checksum and compression engines against independent tools: our streams through
// gzip -d, zstd -d and python3's zlib; theirs (gzip -9 -n, gzip -N, zstd -19, piped zstd,
// concatenated members) through ours; digests and HMAC against sha*sum and python3's hmac;
// the too-small status and its reported need. Skipped where a tool is missing.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"

namespace kel::test {
namespace {

using Bytes = std::string;

bool tool_q(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes temp_path() {
  char path[] = "/tmp/kel-interop-XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}

void write_file(const Bytes& path, const Bytes& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

Bytes read_file(const Bytes& path) {
  Bytes out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

// The shell command's standard output with the data as its standard input; status in *ok.
Bytes pipe_through(const Bytes& command, const Bytes& data, bool* ok = nullptr) {
  Bytes in = temp_path(), out = temp_path();
  write_file(in, data);
  int status = std::system(("(" + command + ") < " + in + " > " + out + " 2>/dev/null").c_str());
  if (ok) *ok = status == 0;
  Bytes result = read_file(out);
  unlink(in.c_str());
  unlink(out.c_str());
  return result;
}

Bytes python(const Bytes& code, const Bytes& data) {
  return pipe_through(
      "python3 -c \"import sys, zlib, hmac, hashlib; d = sys.stdin.buffer.read(); " + code + "\"",
      data);
}

const uint8_t* u8(const Bytes& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Inputs: empty, tiny, repetitive text, random bytes (incompressible).
std::vector<Bytes> samples() {
  std::vector<Bytes> v{"", "hello", "a"};
  Bytes text;
  for (int i = 0; i < 4000; ++i)
    text += "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
  v.push_back(text);
  std::mt19937 rng(27);
  Bytes noise(70000, '\0');
  for (char& c : noise) c = char(rng());
  v.push_back(noise);
  return v;
}

Bytes compress_with(int32_t method, const Bytes& in, int32_t level) {
  int64_t n = int64_t(in.size());
  int64_t size = n + n / 2048 + 32;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Bytes out(size_t(size), '\0');
    int32_t status = compress::run_compressor(method, reinterpret_cast<uint8_t*>(out.data()), &size,
                                              u8(in), n, level);
    if (status == compress::OK) return out.substr(0, size_t(size));
    EXPECT_EQ(status, compress::TOO_SMALL);
  }
  ADD_FAILURE() << "no output after the retry";
  return "";
}

int32_t decompress_with(int32_t method, const Bytes& in, Bytes* out) {
  compress::Output o;
  int32_t status = compress::run_decompressor(method, &o, u8(in), int64_t(in.size()), 0);
  out->assign(reinterpret_cast<const char*>(o.data), size_t(o.size));
  return status;
}

TEST(CompressInterop, OursThroughTheTools) {
  if (!tool_q("gzip") || !tool_q("zstd") || !tool_q("python3")) GTEST_SKIP() << "tools missing";
  for (const Bytes& data : samples()) {
    for (int32_t level : {1, 6, 9}) {
      bool ok = false;
      EXPECT_EQ(pipe_through("gzip -dc", compress_with(compress::GZIP, data, level), &ok), data);
      EXPECT_TRUE(ok) << "gzip -d refused level " << level << ", " << data.size() << " bytes";
      // Same library, same parameters: byte for byte what python3 makes (so it reads them too).
      EXPECT_EQ(
          compress_with(compress::ZLIB, data, level),
          python("sys.stdout.buffer.write(zlib.compress(d, " + std::to_string(level) + "))", data));
      EXPECT_EQ(python("sys.stdout.buffer.write(zlib.decompress(d, -15))",
                       compress_with(compress::DEFLATE, data, level)),
                data);
    }
    for (int32_t level : {1, 3, 19}) {
      bool ok = false;
      EXPECT_EQ(pipe_through("zstd -dc", compress_with(compress::ZSTD, data, level), &ok), data);
      EXPECT_TRUE(ok);
    }
  }
}

TEST(CompressInterop, TheirsThroughOurs) {
  if (!tool_q("gzip") || !tool_q("zstd") || !tool_q("python3")) GTEST_SKIP() << "tools missing";
  for (const Bytes& data : samples()) {
    Bytes got;
    // gzip -N stores the file name (FNAME) and time.
    Bytes named = temp_path();
    write_file(named, data);
    std::system(("gzip -N -f " + named).c_str());
    Bytes member = read_file(named + ".gz");
    unlink((named + ".gz").c_str());
    ASSERT_FALSE(member.empty());
    EXPECT_NE(member[3] & 0x08, 0) << "no FNAME";
    struct Row {
      int32_t method;
      Bytes stream;
    } rows[] = {
        {compress::GZIP, pipe_through("gzip -9 -n -c", data)},
        {compress::GZIP, member},
        {compress::GZIP, pipe_through("gzip -1 -c", data) + pipe_through("gzip -c", data)},
        {compress::ZSTD, pipe_through("zstd -19 -c", data)},
        {compress::ZSTD, pipe_through("cat | zstd -c", data)},  // no content size
        {compress::ZSTD, pipe_through("zstd -c", data) + pipe_through("cat | zstd -1 -c", data)},
        {compress::ZLIB, python("sys.stdout.buffer.write(zlib.compress(d, 9))", data)},
        {compress::DEFLATE, python("c = zlib.compressobj(5, zlib.DEFLATED, -15); "
                                   "sys.stdout.buffer.write(c.compress(d) + c.flush())",
                                   data)},
    };
    if (!data.empty()) {
      EXPECT_EQ(ZSTD_getFrameContentSize(rows[4].stream.data(), rows[4].stream.size()),
                ZSTD_CONTENTSIZE_UNKNOWN);
    }
    int i = 0;
    for (const Row& row : rows) {
      bool twice = i == 2 || i == 5;
      EXPECT_EQ(decompress_with(row.method, row.stream, &got), compress::OK) << "row " << i;
      EXPECT_EQ(got, twice ? data + data : data) << "row " << i;
      ++i;
    }
  }
}

TEST(CompressInterop, TooSmallReportsANeedThatSuffices) {
  std::mt19937 rng(5);
  Bytes noise(300000, '\0');
  for (char& c : noise) c = char(rng());
  for (int32_t method : {compress::ZLIB, compress::DEFLATE, compress::GZIP, compress::ZSTD}) {
    int64_t size = 1000;
    Bytes out(size_t(size), '\0');
    EXPECT_EQ(compress::run_compressor(method, reinterpret_cast<uint8_t*>(out.data()), &size,
                                       u8(noise), int64_t(noise.size()), 6),
              compress::TOO_SMALL);
    EXPECT_GT(size, int64_t(noise.size()));
    out.assign(size_t(size), '\0');
    EXPECT_EQ(compress::run_compressor(method, reinterpret_cast<uint8_t*>(out.data()), &size,
                                       u8(noise), int64_t(noise.size()), 6),
              compress::OK);
    Bytes back;
    EXPECT_EQ(decompress_with(method, out.substr(0, size_t(size)), &back), compress::OK);
    EXPECT_EQ(back, noise);
  }
}

TEST(CompressInterop, OutputStopsAtTheLimit) {
  Bytes zeros(1 << 20, '\0');
  for (int32_t method : {compress::ZLIB, compress::DEFLATE, compress::GZIP, compress::ZSTD}) {
    Bytes packed = compress_with(method, zeros, 9);
    compress::Output o;
    o.limit = 100000;
    EXPECT_EQ(compress::run_decompressor(method, &o, u8(packed), int64_t(packed.size()), 0),
              compress::TOO_LONG);
    EXPECT_LE(o.capacity, o.limit + 1);  // one byte past it lets an engine find its end
  }
}

// A bomb much larger than the limit is counted in one scratch block and refused before any
// output is kept; output that fits comes in one block of exactly its size.
TEST(CompressInterop, LargeOutputIsCountedFirst) {
  Bytes zeros(16 << 20, '\0');
  for (int32_t method : {compress::ZLIB, compress::DEFLATE, compress::GZIP, compress::ZSTD}) {
    Bytes packed = compress_with(method, zeros, 1);
    compress::Output o;
    o.limit = 8 << 20;
    EXPECT_EQ(compress::run_decompressor(method, &o, u8(packed), int64_t(packed.size()), 0),
              compress::TOO_LONG);
    EXPECT_EQ(o.capacity, 0);
    compress::Output fits;
    ASSERT_EQ(compress::run_decompressor(method, &fits, u8(packed), int64_t(packed.size()), 0),
              compress::OK);
    EXPECT_EQ(fits.size, int64_t(zeros.size()));
    EXPECT_EQ(fits.capacity, int64_t(zeros.size()));
    EXPECT_TRUE(std::equal(zeros.begin(), zeros.end(), fits.data));
  }
}

TEST(ChecksumInterop, DigestsMatchTheCoreutils) {
  const struct {
    int32_t id;
    const char* tool;
  } tools[] = {{checksum::ID_MD5, "md5sum"},
               {checksum::ID_SHA1, "sha1sum"},
               {checksum::ID_SHA256, "sha256sum"},
               {checksum::ID_SHA384, "sha384sum"},
               {checksum::ID_SHA512, "sha512sum"}};
  for (const auto& t : tools) {
    if (!tool_q(t.tool)) GTEST_SKIP() << t.tool << " missing";
    for (const Bytes& data : samples()) {
      uint8_t out[checksum::MAX_DIGEST];
      ASSERT_TRUE(checksum::digest(u8(data), int64_t(data.size()), t.id, out));
      Bytes hex;
      char two[3];
      for (int32_t i = 0; i < checksum::digest_size(t.id); ++i) {
        std::snprintf(two, sizeof two, "%02x", out[i]);
        hex += two;
      }
      EXPECT_EQ(
          pipe_through(std::string(t.tool) + " | cut -c1-" + std::to_string(hex.size()), data),
          hex + "\n")
          << t.tool << " " << data.size();
    }
  }
}

TEST(ChecksumInterop, HmacMatchesPython) {
  if (!tool_q("python3")) GTEST_SKIP() << "python3 missing";
  const struct {
    int32_t id;
    const char* name;
  } digests[] = {{checksum::ID_MD5, "md5"},
                 {checksum::ID_SHA1, "sha1"},
                 {checksum::ID_SHA256, "sha256"},
                 {checksum::ID_SHA384, "sha384"},
                 {checksum::ID_SHA512, "sha512"}};
  // Around both block sizes: kept as they are up to the block, digested past it.
  const size_t key_lengths[] = {0, 20, 64, 65, 128, 129, 131};
  Bytes message = "what do ya want for nothing?";
  Bytes ours;
  for (size_t key_length : key_lengths) {
    Bytes key(key_length, '\xAA');
    for (const auto& d : digests) {
      uint8_t out[checksum::MAX_DIGEST];
      ASSERT_TRUE(checksum::hmac(u8(message), int64_t(message.size()), u8(key), int64_t(key.size()),
                                 d.id, out));
      char two[3];
      for (int32_t i = 0; i < checksum::digest_size(d.id); ++i) {
        std::snprintf(two, sizeof two, "%02x", out[i]);
        ours += two;
      }
      ours += "\n";
    }
  }
  Bytes want = python(
      "[print(hmac.new(b'\\xaa' * k, d, n).hexdigest()) for k in (0, 20, 64, 65, 128, 129, 131) "
      "for n in ('md5', 'sha1', 'sha256', 'sha384', 'sha512')]",
      message);
  EXPECT_EQ(ours, want);
}

TEST(ChecksumInterop, CrcAndAdlerMatchPython) {
  if (!tool_q("python3")) GTEST_SKIP() << "python3 missing";
  for (const Bytes& data : samples()) {
    Bytes want = python("print(zlib.crc32(d), zlib.adler32(d))", data);
    EXPECT_EQ(std::to_string(checksum::crc32_compute(u8(data), int64_t(data.size()))) + " " +
                  std::to_string(checksum::adler32_compute(u8(data), int64_t(data.size()))) + "\n",
              want);
  }
}

}  // namespace
}  // namespace kel::test
