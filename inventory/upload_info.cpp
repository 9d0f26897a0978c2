#include "inventory/upload_info.h"

#include "foundation/context/directory_layout.h"

UploadInfoWriter::UploadInfoWriter(std::string_view issueName) {
  m_tree.CreateNew();
  m_root = m_tree.CreateRoot("UPLOADINFO");
  m_root.SetAttribute("ISSUE", issueName);
}

TuXMLNode UploadInfoWriter::AddInstance(std::string_view className, std::string_view key) {
  TuXMLNode instance = m_root.AddChild("INSTANCE");
  instance.SetAttribute("CLASSNAME", className);
  instance.SetAttribute("KEY", key);
  ++m_instances;
  return instance;
}

void UploadInfoWriter::AddProperty(const TuXMLNode& instance, std::string_view name,
                                   std::string_view value) {
  TuXMLNode property = instance.AddChildWithText("PROPERTY", value, false);
  property.SetAttribute("NAME", name);
}

bool UploadInfoWriter::Save(std::string_view path) {
  return m_tree.SaveAs(true, LocalPath(path));
}

bool ReadUploadInfo(std::string_view path, SdcHarvestCollection& collection) {
  TuXMLTree tree;
  if (!tree.LoadFile(LocalPath(path), false, false) || !tree.IsValid()) return false;
  TuXMLNode root = tree.GetRoot();
  if (root.GetName() != "UPLOADINFO") return false;
  TuXMLNodeList instances;
  root.FindChildren("INSTANCE", instances);
  while (instances.Next()) {
    SdcHarvestInstance instance;
    instance.className = instances.GetAttributeValue("CLASSNAME");
    instance.key = instances.GetAttributeValue("KEY");
    TuXMLNodeList properties;
    instances.FindChildren("PROPERTY", properties);
    while (properties.Next()) {
      instance.properties.Put(properties.GetAttributeValue("NAME"), properties.GetText());
    }
    collection.push_back(std::move(instance));
  }
  return true;
}
