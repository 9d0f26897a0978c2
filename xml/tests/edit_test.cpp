// Editing: building a document, texts and the raw-text marker, attributes replaced in place,
// deleting elements and subtrees, and invalid handles that change nothing.
#include <string>

#include "xml/tu_xml_tree.h"
#include "xml/xml_text.h"
#include "xml_test_support.h"

namespace {

class XmlEditTest : public XmlTest {
 protected:
  // The element rendered without escaping, its lines as written from depth 3.
  static std::string Render(const TuXMLNode& node) {
    HxStr out;
    EXPECT_TRUE(node.RenderToString(out, false));
    return S(out);
  }
};

TEST_F(XmlEditTest, TextsAttributesAndNamesAsRendered) {
  const std::string marker(xml_text::kRawTextMarker);
  TuXMLTree tree;
  TuXMLNode root = tree.CreateRoot("r");
  root.AddChildWithText("raw", marker + "<b>&amp;</b>", false);  // the rest stored unchanged
  root.AddChildWithText("alone", marker, false);    // the marker alone is ordinary text
  tree.AddChildWithText(root, "empty", "", false);  // an empty text is still a text
  TuXMLNode text = root.AddChildWithText("t", "first", true);
  ASSERT_TRUE(text.SetText("second", false));  // replaces the text and the CDATA flag
  tree.SetNodeName(text, "renamed");
  root.SetAttribute("a", "1");
  EXPECT_EQ(S(tree.SetAttribute(root, "b", "2").GetName()), "b");
  root.SetAttribute("c", "3");
  EXPECT_EQ(S(root.SetAttribute("a", "one").Duplicate().GetValue()), "one");  // in its place
  root.SetAttribute("A", "upper");  // names are exact: a new attribute
  EXPECT_TRUE(root.RemoveAttribute("b"));
  EXPECT_FALSE(root.RemoveAttribute("b"));
  EXPECT_EQ(Render(root),
            "         <r a=\"one\" c=\"3\" A=\"upper\">\n"
            "            <raw><b>&amp;</b></raw>\n"
            "            <alone>" +
                marker +
                "</alone>\n"
                "            <empty></empty>\n"
                "            <renamed>second</renamed>\n"
                "         </r>\n");
  root.RemoveAllAttributes();
  root.SetAttribute("z", "26");  // the emptied list takes new attributes
  EXPECT_EQ(Render(root).substr(0, 20), "         <r z=\"26\">\n");
}

TEST_F(XmlEditTest, DeleteUnlinksTheSubtreeAndDeletingTheRootEmptiesTheDocument) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<r><a><x><y/></x></a><b/><a/><c/></r>", false));
  TuXMLNode root = tree.GetRoot();
  TuXMLNode b = tree.FindNode("r/b");
  tree.DeleteNode(b);
  EXPECT_FALSE(b.IsValid());
  EXPECT_TRUE(root.RemoveChildren("a"));
  EXPECT_FALSE(root.RemoveChildren("a"));
  TuXMLNode d = root.AddChild("d");  // links stay consistent after deletions
  EXPECT_EQ(root.GetNextChild(root.GetFirstChild()).Record(), d.Record());
  EXPECT_EQ(Render(root), "         <r>\n            <c/>\n            <d/>\n         </r>\n");
  tree.RemoveChildren(root, "c");
  tree.RemoveChildren(root, "d");
  EXPECT_EQ(Render(root), "         <r>\n         </r>\n");

  root.AddChild("a");
  ASSERT_TRUE(root.Delete());
  EXPECT_FALSE(tree.GetRoot().IsValid() || tree.FindNode("r/a").IsValid());
  TuXMLNode fresh = tree.CreateRoot("fresh");
  EXPECT_EQ(tree.GetRoot().Record(), fresh.Record());
}

TEST_F(XmlEditTest, DeepTreesAreWalkedAndFreedWithoutRecursion) {
  constexpr int kDepth = 300000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<d>";
  for (int i = 0; i < kDepth; ++i) text += "</d>";
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer(text, false));
  TuXMLNodeEnum walker = tree.GetWalker();
  while (walker.Next()) {
  }
  EXPECT_EQ(walker.GetDepth(), kDepth - 1);
  tree.Clear();
  EXPECT_FALSE(tree.GetRoot().IsValid());
}

TEST_F(XmlEditTest, InvalidHandlesChangeNothing) {
  TuXMLNode none;
  EXPECT_FALSE(none.AddChild("x").IsValid() || none.SetText("x", false) || none.Delete());
  HxStr out("kept");
  EXPECT_FALSE(none.RenderToString(out, false));
  EXPECT_EQ(S(out), "kept");
  TuXMLTree tree;
  EXPECT_FALSE(tree.AddChild(none, "x").IsValid());
  EXPECT_FALSE(tree.SaveAs(false, (Root() / "none.xml").string()));  // no document
  EXPECT_FALSE(std::filesystem::exists(Root() / "none.xml"));
}

}  // namespace
