// Protected values: secrets (passwords) that the registry keeps enciphered, never in clear.
//
// A protected value is the text "tsp1:" + Base64(nonce | ciphertext | tag): AES-256-GCM with a
// 12-byte random nonce, a 16-byte tag, and the scope's name as associated data, so that a value
// only opens under the scope that made it. It is stored as REG_SZ.
//
// Each scope has one 32-byte key in a file that only its owner can read (0600 in a 0700 folder):
// the machine's (platform::MachineKeyDirectory, root only), which the system account uses, and
// each user's (platform::UserKeyDirectory). The first Protect of a scope makes its key; a key
// that exists is never replaced, since every value made with it would be lost.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace secrets {

enum class SecretScope { kMachine, kUser };

// Results; only kOk is success. Texts for log lines come from StatusText.
enum class SecretStatus : uint32_t {
  kOk = 0,
  kNotProtected,    // the text is not in the protected form (a value stored before, in clear)
  kUnknownVersion,  // the protected form of a version this code does not read
  kMalformed,       // not Base64, or too short for nonce and tag
  kNoKey,           // the scope has no key: nothing was protected in it
  kKeyUnreadable,   // the key file cannot be read, is not private, or is not a key
  kKeyNotSaved,     // a new key could not be written
  kMismatch,        // the tag does not match: tampered, or made under another scope or key
  kCipherFailed,    // libcrypto failed
};

const char* StatusText(SecretStatus status);

// The scope of the calling process: the machine's for the system account, else the user's.
SecretScope ProcessScope();
// The scope of values in a registry root: the machine's for HKEY_LOCAL_MACHINE, else the
// process's (the system account's own keys live in the machine hive).
SecretScope HiveScope(uint32_t rootHandle);

// The key file of a scope.
std::string KeyFilePath(SecretScope scope);

// True when `stored` has the protected form "tsp<digits>:" of any version.
bool IsProtectedForm(std::string_view stored);

// Enciphers `secret` under the scope's key (made on first use) into `stored`.
SecretStatus Protect(SecretScope scope, std::string_view secret, std::string& stored);
// Deciphers a protected value; `secret` is empty unless the result is kOk.
SecretStatus Unprotect(SecretScope scope, std::string_view stored, std::string& secret);

// A stored secret as its reader needs it: a protected value deciphered (empty when it cannot be,
// with a trace line), any other text as is, for stores written before protection existed.
// `status`, when given, receives the result (kNotProtected for a text in clear).
std::string RevealStoredSecret(std::string_view stored, SecretScope scope,
                               SecretStatus* status = nullptr);

// Overwrites a secret's bytes, then empties it.
void WipeSecret(std::string& secret);

}  // namespace secrets
