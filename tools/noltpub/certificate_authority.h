// `noltpub ca init DIR`: the publisher's own root certificate, a signing certificate that it
// issues, their keys, and the bundle that the agent trusts.
#pragma once
#include <string>

namespace noltpub {

// File names below the directory.
inline constexpr const char* kRootKeyFile = "root.key";
inline constexpr const char* kRootCertificateFile = "root.pem";
inline constexpr const char* kSigningKeyFile = "signing.key";
inline constexpr const char* kSigningCertificateFile = "signing.pem";
inline constexpr const char* kRootBundleFile = "pki_cacert.p7b";  // DER, the root only

// Creates the directory when missing and writes the five files: RSA keys (3072 bits for the
// root, valid 20 years; 2048 for the signer, valid 5 years) as unencrypted PEM readable by
// the owner only, the certificates as PEM. `name` goes into both subjects. Refuses (false,
// with `error`) when any of the files exists.
bool InitCertificateAuthority(const std::string& directory, const std::string& name,
                              std::string& error);

}  // namespace noltpub
