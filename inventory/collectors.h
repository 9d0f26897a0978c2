// The collectors behind the template commands. Each reads its command element's attributes,
// adds the instances it finds to the result, and returns false with a reason when the element
// does not have the shape the command needs. Attribute CLASS names the instances' class.
#pragma once
#include <cstdint>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "inventory/harvest_system.h"
#include "inventory/upload_info.h"
#include "xml/tu_xml_node.h"

struct HarvestRun {
  UploadInfoWriter& out;
  const HarvestSystem& system;
  TuXMLNode openClass;  // the instance of the latest CLASS block, for PROPERTY elements
};

using CommandCollector = bool (*)(const TuXMLNode& command, HarvestRun& run, HxStr& reason);

// The command's CLASS attribute, else `fallback`.
HxStr ClassOf(const TuXMLNode& command, const char* fallback);
// The attribute's value; false with a reason naming it when it is missing or empty.
bool RequiredAttribute(const TuXMLNode& command, std::string_view name, HxStr& value,
                       HxStr& reason);
// The command's INSTANCE attribute, else `fallback`: the key of a single-instance command.
HxStr InstanceKey(const TuXMLNode& command, const HxStr& fallback);
HxStr DecimalText(uint64_t value);

bool CollectEnvironment(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectLogicalDisks(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectApplications(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectRegistryValue(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectRegistryValues(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectRegistryKeys(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectFileProperties(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectFiles(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectIniValue(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectClassBlock(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
bool CollectProperty(const TuXMLNode& command, HarvestRun& run, HxStr& reason);
