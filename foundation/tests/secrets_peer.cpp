// The other process of the key race: "secrets_peer TAG SECRET" releases the semaphore
// "SECRETS_PEER_READY_TAG", waits for the event "SECRETS_PEER_GO_TAG", then protects SECRET in
// its scope and prints the protected value. Exit status: 0, 2 when protecting failed, 3 without
// the objects, 64 for a bad command line.
#include <cstdio>
#include <string>

#include "foundation/secrets/protected_value.h"
#include "platform/sync.h"

int main(int argc, char** argv) {
  if (argc != 3) return 64;
  auto ready = platform::Semaphore::Open(std::string("SECRETS_PEER_READY_") + argv[1]);
  auto go = platform::Event::Open(std::string("SECRETS_PEER_GO_") + argv[1]);
  if (!ready || !go || !ready->Release()) return 3;
  if (platform::WaitForOne(*go, platform::kInfinite) != platform::kWaitObject0) return 3;
  std::string stored;
  const secrets::SecretStatus status = secrets::Protect(secrets::ProcessScope(), argv[2], stored);
  std::printf("%s\n",
              status == secrets::SecretStatus::kOk ? stored.c_str() : secrets::StatusText(status));
  return status == secrets::SecretStatus::kOk ? 0 : 2;
}
