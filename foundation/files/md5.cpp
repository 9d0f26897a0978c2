#include "foundation/files/md5.h"

#include <openssl/evp.h>

Md5::Md5() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_md5(), nullptr); }

Md5::~Md5() { EVP_MD_CTX_free(context_); }

void Md5::Update(const void* data, size_t size) { EVP_DigestUpdate(context_, data, size); }

std::array<uint8_t, 16> Md5::Finish() {
  std::array<uint8_t, 16> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_, digest.data(), &length);
  return digest;
}

std::string Md5::FinishHex() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : Finish()) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string Md5Hex(const void* data, size_t size) {
  Md5 digest;
  digest.Update(data, size);
  return digest.FinishHex();
}
