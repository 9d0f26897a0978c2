#include "net/signing/base64_text.h"

#include <climits>

#include "net/signing/openssl_handles.h"

namespace {

// A Base64 filter for one-line text in front of `sink`.
BioPtr Base64Over(BIO* sink) {
  BIO* base64 = BIO_new(BIO_f_base64());
  if (base64 == nullptr) {
    BIO_free_all(sink);
    return nullptr;
  }
  BIO_set_flags(base64, BIO_FLAGS_BASE64_NO_NL);
  return BioPtr(BIO_push(base64, sink));
}

}  // namespace

bool DecodeBase64(std::string_view text, std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (text.empty() || text.size() > INT_MAX) return false;
  BioPtr chain = Base64Over(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!chain) return false;
  // Three bytes for every four characters, at most.
  bytes.resize(text.size() / 4 * 3 + 3);
  size_t total = 0;
  for (;;) {
    const int got =
        BIO_read(chain.get(), bytes.data() + total, static_cast<int>(bytes.size() - total));
    if (got <= 0) break;
    total += static_cast<size_t>(got);
  }
  bytes.resize(total);
  return total > 0;
}

std::string EncodeBase64(std::span<const unsigned char> bytes) {
  BIO* memory = BIO_new(BIO_s_mem());
  BioPtr chain = Base64Over(memory);
  if (!chain || bytes.size() > INT_MAX) return std::string();
  if (BIO_write(chain.get(), bytes.data(), static_cast<int>(bytes.size())) !=
          static_cast<int>(bytes.size()) ||
      BIO_flush(chain.get()) != 1) {
    return std::string();
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory, &data);
  return std::string(data, static_cast<size_t>(length));
}
