#include "foundation/files/md5.h"

#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, buffer_{} {}

// One step of a round: the round's function of b, c, d, the message word, its constant and
// its rotation. The four rounds are spelled out so that the compiler keeps everything in
// registers.
#define MD5_STEP(f, a, b, c, d, word, index) \
  a += f(b, c, d) + (word) + kSine[index];   \
  a = b + RotateLeft(a, kShift[index])

#define MD5_F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define MD5_G(x, y, z) (((x) & (z)) | ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5::Transform(const uint8_t* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<uint32_t>(block[i * 4 + 2]) << 16 |
           static_cast<uint32_t>(block[i * 4 + 3]) << 24;
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 16; i += 4) {
    MD5_STEP(MD5_F, a, b, c, d, m[i], i);
    MD5_STEP(MD5_F, d, a, b, c, m[i + 1], i + 1);
    MD5_STEP(MD5_F, c, d, a, b, m[i + 2], i + 2);
    MD5_STEP(MD5_F, b, c, d, a, m[i + 3], i + 3);
  }
  for (int i = 16; i < 32; i += 4) {
    MD5_STEP(MD5_G, a, b, c, d, m[(5 * i + 1) % 16], i);
    MD5_STEP(MD5_G, d, a, b, c, m[(5 * i + 6) % 16], i + 1);
    MD5_STEP(MD5_G, c, d, a, b, m[(5 * i + 11) % 16], i + 2);
    MD5_STEP(MD5_G, b, c, d, a, m[(5 * i + 16) % 16], i + 3);
  }
  for (int i = 32; i < 48; i += 4) {
    MD5_STEP(MD5_H, a, b, c, d, m[(3 * i + 5) % 16], i);
    MD5_STEP(MD5_H, d, a, b, c, m[(3 * i + 8) % 16], i + 1);
    MD5_STEP(MD5_H, c, d, a, b, m[(3 * i + 11) % 16], i + 2);
    MD5_STEP(MD5_H, b, c, d, a, m[(3 * i + 14) % 16], i + 3);
  }
  for (int i = 48; i < 64; i += 4) {
    MD5_STEP(MD5_I, a, b, c, d, m[(7 * i) % 16], i);
    MD5_STEP(MD5_I, d, a, b, c, m[(7 * i + 7) % 16], i + 1);
    MD5_STEP(MD5_I, c, d, a, b, m[(7 * i + 14) % 16], i + 2);
    MD5_STEP(MD5_I, b, c, d, a, m[(7 * i + 21) % 16], i + 3);
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void Md5::Update(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(length_ % 64);
  length_ += size;
  if (used > 0) {
    const size_t take = size < 64 - used ? size : 64 - used;
    std::memcpy(buffer_ + used, bytes, take);
    used += take;
    bytes += take;
    size -= take;
    if (used < 64) return;
    Transform(buffer_);
  }
  for (; size >= 64; bytes += 64, size -= 64) Transform(bytes);
  std::memcpy(buffer_, bytes, size);
}

std::array<uint8_t, 16> Md5::Finish() {
  const uint64_t bits = length_ * 8;
  static constexpr uint8_t kPadding[64] = {0x80};
  const size_t used = static_cast<size_t>(length_ % 64);
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(tail, sizeof tail);
  std::array<uint8_t, 16> digest{};
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5::FinishHex() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : Finish()) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 15]);
  }
  return text;
}

std::string Md5Hex(const void* data, size_t size) {
  Md5 md5;
  md5.Update(data, size);
  return md5.FinishHex();
}
