// Checksums and digests of byte runs: the method words, CRC-32, Adler-32, the Internet
// checksum, MD5/SHA-1/SHA-2 digests and their HMAC (the digests through libcrypto).
#pragma once
#include <cstdint>

namespace kel::checksum {

// Method ids of the digest and HMAC paths; adler32 and hash have none.
constexpr int32_t ID_TCP = 0, ID_CRC32 = 1, ID_MD5 = 2, ID_SHA1 = 3, ID_SHA256 = 4, ID_SHA384 = 5,
                  ID_SHA512 = 6;
constexpr int32_t ID_NONE = -1;
constexpr int32_t MAX_DIGEST = 64;

// Start-up: interns tcp md5 sha1 crc32 adler32 sha256 sha384 sha512 hash.
void intern_method_words();
// The method word's symbol (any letter case) as one of the nine: 0 tcp, 1 crc32, 2 md5,
// 3 sha1, 4 sha256, 5 sha384, 6 sha512, 7 adler32, 8 hash; -1 for another word.
constexpr int32_t WORD_ADLER32 = 7, WORD_HASH = 8;
int32_t method_of_symbol(int32_t symbol);
// Digest bytes by id: 16, 20, 32, 48, 64; 0 for tcp and crc32.
int32_t digest_size(int32_t id);

uint32_t crc32_compute(const uint8_t* bytes, int64_t n);
uint32_t adler32_compute(const uint8_t* bytes, int64_t n);
// RFC 1071: big-endian 16-bit words, a final odd byte padded as the high byte.
uint32_t tcp_checksum(const uint8_t* bytes, int64_t n);

// The digest of the run into out (digest_size(id) bytes). false when the library fails;
// out is then not to be used.
bool digest(const uint8_t* bytes, int64_t n, int32_t id, uint8_t* out);
// RFC 2104 HMAC over the digest of id (block 128 bytes for sha384/sha512, else 64; a
// longer key is replaced by its digest). false when the library fails.
bool hmac(const uint8_t* bytes, int64_t n, const uint8_t* key, int64_t key_length, int32_t id,
          uint8_t* out);

}  // namespace kel::checksum
