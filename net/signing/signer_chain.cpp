#include "net/signing/signer_chain.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <ctime>
#include <mutex>

#include "foundation/log/hx_trace.h"
#include "net/signing/certificate_validater.h"
#include "net/signing/openssl_handles.h"
#include "platform/timefmt.h"

namespace {

// The index under which a store context carries its report, registered once per process.
int StoreContextIndex() {
  static std::once_flag once;
  static int index = -1;
  std::call_once(once, [] {
    index = X509_STORE_CTX_get_ex_new_index(0, const_cast<char*>("TuSSLCertificateStore Index"),
                                            nullptr, nullptr, nullptr);
  });
  return index;
}

// Notes the first certificate that the chain check refuses, and why.
int RecordRefusal(int ok, X509_STORE_CTX* context) {
  if (ok == 1) return ok;
  auto* report =
      static_cast<VerifyReport*>(X509_STORE_CTX_get_ex_data(context, StoreContextIndex()));
  if (report == nullptr || !report->detail.IsEmpty()) return ok;
  CertificateDetails details;
  TuSSLCertificateValidater::ReadCertificate(X509_STORE_CTX_get_current_cert(context), details);
  report->detail.Format("%s: %s", X509_verify_cert_error_string(X509_STORE_CTX_get_error(context)),
                        details.subject.c_str());
  HxTrace::Instance().TraceL1(kTraceGeneral, "Certificate refused: %s\n", report->detail.c_str());
  return ok;
}

// The clock's time, so that certificate validity follows a driven clock too.
time_t ClockTime() {
  return static_cast<time_t>((platform::FileTimeNow() - platform::kFileTimeUnixEpoch) /
                             platform::kFileTimeTicksPerSecond);
}

}  // namespace

bool VerifySignerChain(X509_STORE* store, X509* signer, STACK_OF(X509) * untrusted,
                       VerifyReport& report) {
  if (store == nullptr || signer == nullptr) return false;
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), store, signer, untrusted) != 1) return false;
  X509_STORE_CTX_set_ex_data(context.get(), StoreContextIndex(), &report);
  X509_STORE_CTX_set_verify_cb(context.get(), RecordRefusal);
  X509_STORE_CTX_set_time(context.get(), 0, ClockTime());
  return X509_verify_cert(context.get()) == 1;
}
