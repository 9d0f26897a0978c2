// RegQueryValue, RegEnumValue and RegEnumKey: values and subkeys of one registry key, named by
// the attributes ROOT ("HKLM" by default, "HKCU", "HKCR" or the long names) and KEY.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "inventory/collectors.h"
#include "platform/registry.h"

namespace {

bool RootOf(const TuXMLNode& command, uint32_t& root, HxStr& reason) {
  HxStr name = command.GetAttributeValue("ROOT");
  if (name.IsEmpty() || name.CompareNoCase("HKLM") == 0 ||
      name.CompareNoCase("HKEY_LOCAL_MACHINE") == 0) {
    root = platform::kHkeyLocalMachine;
  } else if (name.CompareNoCase("HKCU") == 0 || name.CompareNoCase("HKEY_CURRENT_USER") == 0) {
    root = platform::kHkeyCurrentUser;
  } else if (name.CompareNoCase("HKCR") == 0 || name.CompareNoCase("HKEY_CLASSES_ROOT") == 0) {
    root = platform::kHkeyClassesRoot;
  } else {
    reason.Format("unknown registry root '%s'", name.c_str());
    return false;
  }
  return true;
}

// Opens the command's key for reading. A missing key is no error: it just yields no instances.
bool OpenCommandKey(const TuXMLNode& command, platform::RegistryKey& key, HxStr& reason) {
  uint32_t root = 0;
  HxStr path;
  if (!RootOf(command, root, reason) || !RequiredAttribute(command, "KEY", path, reason)) {
    return false;
  }
  key.Open(root, path, platform::kKeyRead);
  return true;
}

uint64_t LittleEndian(const std::vector<uint8_t>& data, size_t width) {
  uint64_t number = 0;
  for (size_t i = std::min(width, data.size()); i-- > 0;) number = number << 8 | data[i];
  return number;
}

// Texts up to their terminator, lists joined with ';', numbers in decimal, the rest in hex.
HxStr ValueText(const platform::RegistryValue& value) {
  const std::vector<uint8_t>& data = value.data;
  HxStr text;
  switch (value.type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: {
      std::string chars(data.begin(), data.end());
      return HxStr(chars.substr(0, chars.find('\0')));
    }
    case platform::kRegMultiSz: {
      std::string chars(data.begin(), data.end());
      while (!chars.empty() && chars.back() == '\0') chars.pop_back();
      for (char& c : chars) {
        if (c == '\0') c = ';';
      }
      return HxStr(chars);
    }
    case platform::kRegDword:
      text.Format("%lu", static_cast<unsigned long>(LittleEndian(data, 4)));
      return text;
    case platform::kRegQword:
      text.Format("%llu", static_cast<unsigned long long>(LittleEndian(data, 8)));
      return text;
    default:
      for (uint8_t byte : data) {
        HxStr pair;
        pair.Format("%02X", byte);
        text += pair;
      }
      return text;
  }
}

void EmitValue(HarvestRun& run, const HxStr& className, std::string_view key,
               const platform::RegistryValue& value) {
  TuXMLNode instance = run.out.AddInstance(className, key);
  HxStr type;
  type.Format("%u", value.type);
  run.out.AddProperty(instance, "Name", value.name);
  run.out.AddProperty(instance, "Value", ValueText(value));
  run.out.AddProperty(instance, "Type", type);
}

}  // namespace

bool CollectRegistryValue(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  platform::RegistryKey key;
  if (!OpenCommandKey(command, key, reason)) return false;
  platform::RegistryValue value;
  HxStr name = command.GetAttributeValue("VALUE");
  if (!key.IsOpen() || key.QueryValue(name, value) != 0) return true;
  value.name = name.c_str();
  EmitValue(run, ClassOf(command, "RegistryValue"), InstanceKey(command, name), value);
  return true;
}

bool CollectRegistryValues(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  platform::RegistryKey key;
  if (!OpenCommandKey(command, key, reason)) return false;
  HxStr className = ClassOf(command, "RegistryValue");
  platform::RegistryValue value;
  for (uint32_t i = 0; key.IsOpen() && key.EnumValue(i, value) == 0; ++i) {
    EmitValue(run, className, value.name, value);
  }
  return true;
}

bool CollectRegistryKeys(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  platform::RegistryKey key;
  if (!OpenCommandKey(command, key, reason)) return false;
  HxStr className = ClassOf(command, "RegistryKey");
  std::string name;
  for (uint32_t i = 0; key.IsOpen() && key.EnumKey(i, name) == 0; ++i) {
    TuXMLNode instance = run.out.AddInstance(className, name);
    run.out.AddProperty(instance, "Name", name);
    // The subkey's named values become the instance's further properties.
    platform::RegistryKey subKey;
    if (subKey.Open(key, name, platform::kKeyRead) != 0) continue;
    platform::RegistryValue value;
    for (uint32_t v = 0; subKey.EnumValue(v, value) == 0; ++v) {
      if (!value.name.empty()) run.out.AddProperty(instance, value.name, ValueText(value));
    }
  }
  return true;
}
