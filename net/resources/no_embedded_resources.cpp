// The build named no root bundle: this module carries no resources.
#include "net/resources/module_resources.h"

const ModuleResources& ThisModuleResources() {
  static const ModuleResources resources(nullptr, 0);
  return resources;
}
