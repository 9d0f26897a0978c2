// Attribute reading and number text shared by the collectors.
#include "inventory/collectors.h"

HxStr ClassOf(const TuXMLNode& command, const char* fallback) {
  HxStr name = command.GetAttributeValue("CLASS");
  return name.IsEmpty() ? HxStr(fallback) : name;
}

bool RequiredAttribute(const TuXMLNode& command, std::string_view name, HxStr& value,
                       HxStr& reason) {
  value = command.GetAttributeValue(name);
  if (!value.IsEmpty()) return true;
  reason.Format("attribute '%.*s' is missing", static_cast<int>(name.size()), name.data());
  return false;
}

HxStr InstanceKey(const TuXMLNode& command, const HxStr& fallback) {
  HxStr key = command.GetAttributeValue("INSTANCE");
  return key.IsEmpty() ? fallback : key;
}

HxStr DecimalText(uint64_t value) {
  HxStr text;
  text.Format("%llu", static_cast<unsigned long long>(value));
  return text;
}
