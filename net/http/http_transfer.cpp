#include "net/http/http_transfer.h"

#include <mutex>

#include "net/http/hx_http_object.h"

namespace {

HxRemoteObjectPtr MakeHttpObject(const HxLocationParts& location) {
  return std::make_shared<HxHttpObject>(location);
}

HxRemoteObjectPtr MakeHttpsObject(const HxLocationParts& location) {
  return std::make_shared<HxHttpsObject>(location);
}

}  // namespace

void RegisterHttpTransferObjects() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    RegisterTransferProtocol("http:", &MakeHttpObject);
    RegisterTransferProtocol("https:", &MakeHttpsObject);
  });
}
