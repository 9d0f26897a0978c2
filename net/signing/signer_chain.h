// The signer's certificate chain, checked against the trusted store at the clock's time.
#pragma once
#include <openssl/types.h>

#include "net/signing/signed_file.h"

// True when `signer` chains to a certificate of `store`, with `untrusted` (may be null) as
// intermediates. On failure `report` names the refused certificate and the reason.
bool VerifySignerChain(X509_STORE* store, X509* signer, STACK_OF(X509) * untrusted,
                       VerifyReport& report);
