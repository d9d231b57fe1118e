// Checksums and digests of byte runs: CRC-32 and Adler-32 through zlib, the Internet
// checksum here, the digests and HMAC through libcrypto's EVP interface.
#include "runtime/io/checksum.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>

#include "runtime/io/dynlib.h"
#include "runtime/symbol.h"

namespace kel::checksum {

namespace {

// Spellings by method number (the ids first, then adler32 and hash).
constexpr const char* METHOD_NAMES[9] = {"tcp",    "crc32",  "md5",     "sha1", "sha256",
                                         "sha384", "sha512", "adler32", "hash"};
int32_t g_method_symbols[9] = {};  // canonical symbol ids, 0 before start-up

// libcrypto is loaded at the first digest, not linked: relocating its thousands of symbols
// was a fifth of every start-up. Null when it cannot be loaded.
struct CryptoApi {
  decltype(&::EVP_md5) md5;
  decltype(&::EVP_sha1) sha1;
  decltype(&::EVP_sha256) sha256;
  decltype(&::EVP_sha384) sha384;
  decltype(&::EVP_sha512) sha512;
  decltype(&::EVP_Digest) digest;
  decltype(&::EVP_MD_CTX_new) ctx_new;
  decltype(&::EVP_MD_CTX_free) ctx_free;
  decltype(&::EVP_DigestInit_ex) init;
  decltype(&::EVP_DigestUpdate) update;
  decltype(&::EVP_DigestFinal_ex) final;
};

const CryptoApi* crypto_api() {
  static CryptoApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 unavailable
  if (state) return state > 0 ? &api : nullptr;
  state = -1;
  dynlib::Binder load("libcrypto.so.3");
  load(api.md5, "EVP_md5");
  load(api.sha1, "EVP_sha1");
  load(api.sha256, "EVP_sha256");
  load(api.sha384, "EVP_sha384");
  load(api.sha512, "EVP_sha512");
  load(api.digest, "EVP_Digest");
  load(api.ctx_new, "EVP_MD_CTX_new");
  load(api.ctx_free, "EVP_MD_CTX_free");
  load(api.init, "EVP_DigestInit_ex");
  load(api.update, "EVP_DigestUpdate");
  load(api.final, "EVP_DigestFinal_ex");
  if (!load.ok()) return nullptr;
  state = 1;
  return &api;
}

const EVP_MD* md_of(const CryptoApi* api, int32_t id) {
  if (!api) return nullptr;
  switch (id) {
    case ID_MD5: return api->md5();
    case ID_SHA1: return api->sha1();
    case ID_SHA256: return api->sha256();
    case ID_SHA384: return api->sha384();
    case ID_SHA512: return api->sha512();
    default: return nullptr;
  }
}

// zlib's running checksums take at most 4 GB a call.
constexpr int64_t CHUNK = int64_t(1) << 30;

}  // namespace

void intern_method_words() {
  for (int32_t i = 0; i < 9; ++i)
    g_method_symbols[i] = symbol::canonical_id(symbol::intern_c_text(METHOD_NAMES[i]));
}

int32_t method_of_symbol(int32_t sym) {
  if (g_method_symbols[0] == 0) intern_method_words();
  int32_t canon = symbol::canonical_id(sym);
  for (int32_t i = 0; i < 9; ++i)
    if (g_method_symbols[i] == canon) return i;
  return -1;
}

int32_t digest_size(int32_t id) {
  switch (id) {
    case ID_MD5: return 16;
    case ID_SHA1: return 20;
    case ID_SHA256: return 32;
    case ID_SHA384: return 48;
    case ID_SHA512: return 64;
    default: return 0;
  }
}

uint32_t crc32_compute(const uint8_t* bytes, int64_t n) {
  uLong crc = ::crc32(0L, Z_NULL, 0);
  for (int64_t done = 0; done < n; done += CHUNK)
    crc = ::crc32(crc, bytes + done, uInt(n - done < CHUNK ? n - done : CHUNK));
  return uint32_t(crc);
}

uint32_t adler32_compute(const uint8_t* bytes, int64_t n) {
  uLong a = ::adler32(0L, Z_NULL, 0);
  for (int64_t done = 0; done < n; done += CHUNK)
    a = ::adler32(a, bytes + done, uInt(n - done < CHUNK ? n - done : CHUNK));
  return uint32_t(a);
}

uint32_t tcp_checksum(const uint8_t* bytes, int64_t n) {
  uint64_t sum = 0;
  int64_t i = 0;
  for (; i + 1 < n; i += 2) sum += (uint32_t(bytes[i]) << 8) | bytes[i + 1];
  if (i < n) sum += uint32_t(bytes[i]) << 8;
  while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
  return uint32_t(~sum) & 0xFFFF;
}

bool digest(const uint8_t* bytes, int64_t n, int32_t id, uint8_t* out) {
  const CryptoApi* api = crypto_api();
  const EVP_MD* md = md_of(api, id);
  if (!md) return false;
  unsigned int size = 0;
  if (api->digest(bytes, size_t(n), out, &size, md, nullptr) != 1) return false;
  return int32_t(size) == digest_size(id);
}

bool hmac(const uint8_t* bytes, int64_t n, const uint8_t* key, int64_t key_length, int32_t id,
          uint8_t* out) {
  const CryptoApi* api = crypto_api();
  const EVP_MD* md = md_of(api, id);
  if (!md) return false;
  const int32_t block = (id == ID_SHA384 || id == ID_SHA512) ? 128 : 64;
  const int32_t size = digest_size(id);
  uint8_t k[128] = {};
  if (key_length > block) {
    if (!digest(key, key_length, id, k)) return false;
  } else if (key_length > 0) {
    std::memcpy(k, key, size_t(key_length));
  }
  uint8_t pad[128];
  uint8_t inner[MAX_DIGEST];
  EVP_MD_CTX* ctx = api->ctx_new();
  if (!ctx) return false;
  bool ok = true;
  auto run = [&](uint8_t x, const uint8_t* data, size_t length, uint8_t* result) {
    for (int32_t i = 0; i < block; ++i) pad[i] = uint8_t(k[i] ^ x);
    unsigned int got = 0;
    ok = ok && api->init(ctx, md, nullptr) == 1 &&
         api->update(ctx, pad, size_t(block)) == 1 &&
         api->update(ctx, data, length) == 1 && api->final(ctx, result, &got) == 1 &&
         int32_t(got) == size;
  };
  run(0x36, bytes, size_t(n), inner);
  run(0x5C, inner, size_t(size), out);
  api->ctx_free(ctx);
  return ok;
}

}  // namespace kel::checksum
