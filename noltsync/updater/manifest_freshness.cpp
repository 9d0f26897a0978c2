#include "noltsync/updater/manifest_freshness.h"

#include "foundation/log/host_logger.h"
#include "foundation/registry/provider_store.h"
#include "net/signing/signed_data.h"
#include "net/signing/signing_names.h"
#include "platform/timefmt.h"

namespace {

namespace names = signing_names;

bool NotExpired(const HxKVList& credentials, const HxStr& manifest) {
  HxStr text;
  if (!credentials.Get(names::kExpires, text)) return true;
  uint64_t expires = 0;
  if (!ParseExpiryTime(text, expires)) {
    HostLog(kLogError,
            "** Refusing manifest %s: its expiry [%s] is not a UTC time YYYY-MM-DDTHH:MM:SSZ **\n",
            manifest.c_str(), text.c_str());
    return false;
  }
  if (platform::FileTimeNow() < expires) return true;
  HostLog(kLogError,
          "** Refusing manifest %s: it expired at %s; the server has published no newer one **\n",
          manifest.c_str(), text.c_str());
  return false;
}

bool NotReplayed(const HxKVList& credentials, const HxStr& manifest) {
  HxStr text;
  if (!credentials.Get(names::kSequence, text)) return true;
  uint64_t sequence = 0;
  if (!ParseHeaderNumber(text, sequence)) {
    HostLog(kLogError, "** Refusing manifest %s: its sequence [%s] is not a whole number **\n",
            manifest.c_str(), text.c_str());
    return false;
  }
  uint32_t highest = 0;
  const bool known =
      provider_store::ReadDword(nullptr, kAcceptedManifestSequenceValue, highest, true) == 0;
  if (known && sequence < highest) {
    HostLog(kLogError,
            "** Refusing manifest %s: its sequence %u is lower than %u, the highest accepted; "
            "an older manifest was replayed **\n",
            manifest.c_str(), static_cast<unsigned>(sequence), static_cast<unsigned>(highest));
    return false;
  }
  if ((!known || sequence > highest) &&
      provider_store::WriteDword(nullptr, kAcceptedManifestSequenceValue,
                                 static_cast<uint32_t>(sequence), true) != 0) {
    HostLog(kLogWarning, "** Failed to record manifest sequence %u as %s **\n",
            static_cast<unsigned>(sequence), kAcceptedManifestSequenceValue);
  }
  return true;
}

}  // namespace

bool AcceptManifestFreshness(const HxKVList& credentials, const HxStr& manifest) {
  // An expired manifest records nothing, so the expiry is looked at first.
  return NotExpired(credentials, manifest) && NotReplayed(credentials, manifest);
}
