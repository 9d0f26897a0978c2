// Owning handles for the libcrypto objects used by signing and verification.
#pragma once
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

template <auto Free>
struct OpensslFree {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};

using BioPtr = std::unique_ptr<BIO, OpensslFree<BIO_free_all>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpensslFree<PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, OpensslFree<X509_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpensslFree<X509_STORE_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpensslFree<EVP_PKEY_free>>;
