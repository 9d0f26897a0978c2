// CLASS and PROPERTY blocks: instances written out in the template itself. A CLASS element
// (attributes NAME and KEY) opens one instance; its PROPERTY children, and PROPERTY elements
// that follow it under the root, add properties (attribute NAME, the value as VALUE or text).
#include "inventory/collectors.h"

namespace {

bool AddBlockProperty(const TuXMLNode& property, const TuXMLNode& instance, HarvestRun& run,
                      HxStr& reason) {
  HxStr name;
  if (!RequiredAttribute(property, "NAME", name, reason)) return false;
  HxStr value;
  if (!property.GetAttribute("VALUE", value)) value = property.GetText();
  run.out.AddProperty(instance, name, value);
  return true;
}

}  // namespace

bool CollectClassBlock(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  HxStr name, key;
  if (!RequiredAttribute(command, "NAME", name, reason) ||
      !RequiredAttribute(command, "KEY", key, reason)) {
    return false;
  }
  // Check every child before writing, so a bad block adds nothing.
  for (TuXMLNode child = command.GetFirstChild(); child.IsValid();
       child = command.GetNextChild(child)) {
    if (child.GetName().CompareNoCase("PROPERTY") != 0 ||
        child.GetAttributeValue("NAME").IsEmpty()) {
      reason.Format("child <%s> of the class block is not a PROPERTY with a NAME",
                    child.GetName().c_str());
      return false;
    }
  }
  run.openClass = run.out.AddInstance(name, key);
  for (TuXMLNode child = command.GetFirstChild(); child.IsValid();
       child = command.GetNextChild(child)) {
    AddBlockProperty(child, run.openClass, run, reason);
  }
  return true;
}

bool CollectProperty(const TuXMLNode& command, HarvestRun& run, HxStr& reason) {
  if (!run.openClass.IsValid()) {
    reason = "PROPERTY outside a class block";
    return false;
  }
  return AddBlockProperty(command, run.openClass, run, reason);
}
