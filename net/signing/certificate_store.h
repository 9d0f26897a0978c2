// The trusted certificate store: an OpenSSL X.509 store filled from PKCS#7 certificate bundles,
// from a module resource or from the credentials file "pki_cacert.p7b".
#pragma once
#include <openssl/types.h>

#include <span>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "net/resources/module_resources.h"
#include "net/signing/signing_names.h"

// An empty store (null when libcrypto cannot make one), and its release (null is fine).
X509_STORE* CreateStore();
void FreeStore(X509_STORE* store);

// Adds every certificate of a PKCS#7 bundle (DER, or PEM "-----BEGIN PKCS7-----"). False when
// the bytes are not a bundle or it holds no certificate.
bool AddBundleCertificates(X509_STORE* store, std::span<const unsigned char> bundle);

// Adds the certificates of a module's bundle resource (null module: this module's). False when
// the resource is missing or unreadable.
bool AddResourceCertificates(X509_STORE* store, const ModuleResources* module = nullptr,
                             std::string_view name = signing_names::kRootResourceName,
                             std::string_view type = signing_names::kRootResourceType);

// Adds the certificates of a bundle file; false when it cannot be read or holds none.
bool AddFileCertificates(X509_STORE* store, std::string_view path);

// The credentials file: for "DirRoot" and then "AppDataUser", the directory's "Credentials\"
// and then its "..\Credentials\" hold the file; the first that exists is the result, as a
// local path. False when none does.
bool FindCredentialsFile(std::string_view fileName, HxStr& path);
