// Base64 text of the header values, through libcrypto's Base64 BIO: one line, no breaks.
#pragma once
#include <openssl/crypto.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

// Decodes one line of Base64 text; false when nothing decodes.
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& bytes);

// Encodes bytes as one line of Base64 text without line breaks.
std::string EncodeBase64(std::span<const unsigned char> bytes);

// Base64 text → DER → the object that `d2i` reads (d2i_X509, d2i_PKCS7); null on failure,
// also when bytes follow the object: they would ride along unchecked. The caller frees it.
template <typename T>
T* DecodeBase64Der(std::string_view text, T* (*d2i)(T**, const unsigned char**, long),
                   void (*release)(T*)) {
  std::vector<unsigned char> der;
  if (!DecodeBase64(text, der)) return nullptr;
  const unsigned char* cursor = der.data();
  T* object = d2i(nullptr, &cursor, static_cast<long>(der.size()));
  if (object != nullptr && cursor != der.data() + der.size()) {
    release(object);
    return nullptr;
  }
  return object;
}

// The object's DER (i2d_X509, i2d_PKCS7) as one line of Base64; empty on failure.
template <typename T>
std::string EncodeBase64Der(const T* object, int (*i2d)(const T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int size = i2d(object, &der);
  if (size <= 0) return std::string();
  std::string text = EncodeBase64({der, static_cast<size_t>(size)});
  OPENSSL_free(der);
  return text;
}
