// The XML tree from a buffer, with and without trimming: every element, text and attribute is
// read back, the root is rendered to a string, and a UTF-8 document saved with escaping must
// load again with as many elements. (The writer keeps the declared encoding but writes the
// stored UTF-8 text, so a document declared in another encoding need not load again.)
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "xml/tu_xml_tree.h"

namespace {

// Reads every element's name, text and attributes; returns how many elements there are.
int ReadAll(const TuXMLTree& tree) {
  int elements = 1;
  (void)tree.GetRoot().GetName();
  TuXMLNodeEnum walker = tree.GetWalker();
  while (walker.Next()) {
    ++elements;
    (void)walker.GetName();
    (void)walker.GetText();
    TuXMLAttrEnum attributes = walker.GetAttributes();
    while (attributes.Next()) (void)attributes.GetValue();
  }
  return elements;
}

bool DeclaredUtf8(const TuXMLTree& tree) {
  const char* encoding = tree.GetEncoding();
  if (encoding == nullptr) return true;
  const std::string_view name(encoding);
  return name == "UTF-8" || name == "utf-8";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string saved = FuzzRoot() + "/saved.xml";
  for (const bool trim : {false, true}) {
    TuXMLTree tree;
    if (!tree.LoadBuffer(FuzzText(data, size), trim)) {
      HxStr error;
      tree.FormatError(error);
      continue;
    }
    const int elements = ReadAll(tree);
    HxStr rendered;
    tree.GetRoot().RenderToString(rendered, trim);
    if (!tree.SaveAs(true, saved)) std::abort();
    if (!DeclaredUtf8(tree)) continue;
    TuXMLTree reloaded;
    if (!reloaded.LoadFile(saved, trim, false) || ReadAll(reloaded) != elements) std::abort();
  }
  return 0;
}
