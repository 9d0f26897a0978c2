// The collector's result document: root "UPLOADINFO" (attribute ISSUE), one "INSTANCE" per
// collected object (attributes CLASSNAME and KEY) holding one "PROPERTY" per property
// (attribute NAME, the value as text).
#pragma once
#include <string_view>

#include "inventory/sdc_sync_data_harvest_ex.h"
#include "xml/tu_xml_tree.h"

class UploadInfoWriter {
 public:
  explicit UploadInfoWriter(std::string_view issueName);

  TuXMLNode AddInstance(std::string_view className, std::string_view key);
  void AddProperty(const TuXMLNode& instance, std::string_view name, std::string_view value);
  int InstanceCount() const { return m_instances; }
  bool Save(std::string_view path);

 private:
  TuXMLTree m_tree;
  TuXMLNode m_root;
  int m_instances = 0;
};

// Appends the instances of the result document at `path`; false when it cannot be read.
bool ReadUploadInfo(std::string_view path, SdcHarvestCollection& collection);
