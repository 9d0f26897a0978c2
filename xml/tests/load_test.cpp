// Loading: the tree built from a text or a file read in blocks, the whitespace rules and the
// trim flag, CDATA, the declaration, missing files, UTF-16 output and the provider id in texts
// and attribute values.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/context/context_store.h"
#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

class XmlLoadTest : public XmlTest {
 protected:
  // The text of the root's first child after loading `body` inside "<r>...</r>".
  std::string ChildText(const std::string& body, bool trim) {
    TuXMLTree tree;
    EXPECT_TRUE(tree.LoadBuffer("<r>" + body + "</r>", trim));
    return S(tree.GetRoot().GetFirstChild().GetText());
  }
};

TEST_F(XmlLoadTest, BufferBuildsElementsAttributesAndDeclarationAndALoadReplacesThem) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<root b=\"2\" a=\"1\">\n  <first>one</first>\n  <second/>\n  <first>two</first>\n</root>",
      false));
  EXPECT_TRUE(tree.IsValid());
  EXPECT_FALSE(tree.HasError());
  EXPECT_EQ(S(tree.FileName()), "buffer");
  EXPECT_STREQ(tree.GetVersion(), "1.0");
  EXPECT_STREQ(tree.GetEncoding(), "UTF-8");

  TuXMLNode root = tree.GetRoot();
  EXPECT_EQ(S(root.GetName()), "root");
  EXPECT_EQ(S(root.GetText()), "");  // whitespace between children is dropped
  EXPECT_FALSE(root.GetParent().IsValid());

  TuXMLAttrEnum attributes = root.GetAttributes();
  std::vector<std::string> seen;
  while (attributes.Next())
    seen.push_back(S(attributes.GetName()) + "=" + S(attributes.GetValue()));
  EXPECT_EQ(seen, (std::vector<std::string>{"b=2", "a=1"}));  // document order
  EXPECT_FALSE(attributes.Next());

  std::vector<std::string> children;
  for (TuXMLNode child = root.GetNextChild(TuXMLNode()); child.IsValid();
       child = root.GetNextChild(child)) {
    children.push_back(S(child.GetName()) + ":" + S(child.GetText()));
    EXPECT_EQ(child.GetParent().Record(), root.Record());
  }
  EXPECT_EQ(children, (std::vector<std::string>{"first:one", "second:", "first:two"}));

  // Loading again replaces the document.
  ASSERT_TRUE(tree.LoadBuffer("<second/>", false));
  EXPECT_EQ(S(tree.GetRoot().GetName()), "second");
  EXPECT_EQ(tree.GetVersion(), nullptr);
}

TEST_F(XmlLoadTest, TrimFlagDecidesSpacesAroundAWordAndTextBesideChildren) {
  EXPECT_EQ(ChildText("<a>  word  </a>", false), "  word  ");
  EXPECT_EQ(ChildText("<a>  word  </a>", true), "word");
  EXPECT_EQ(ChildText("<a>\t\r\n x y \n</a>", true), "x y");
  // Whitespace alone is no text, with or without the flag.
  for (bool trim : {false, true}) {
    TuXMLTree tree;
    ASSERT_TRUE(tree.LoadBuffer("<r><a>  \n \n  </a></r>", trim));
    HxStr rendered;
    ASSERT_TRUE(tree.GetRoot().GetFirstChild().RenderToString(rendered, false));
    EXPECT_EQ(S(rendered), "         <a/>\n") << "trim " << trim;
  }
  // Text beside children is collected around them.
  EXPECT_EQ(ChildText("<a> x <b/> y </a>", false), " x  y ");
  EXPECT_EQ(ChildText("<a> x <b/> y </a>", true), "x  y");
}

TEST_F(XmlLoadTest, CDataSectionSetsTheFlagAndKeepsMarkupCharacters) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<r><s><![CDATA[if (a < b && c) {}]]></s><t>plain</t></r>", true));
  TuXMLNode script = tree.GetRoot().GetFirstChild();
  EXPECT_TRUE(script.IsCData());
  EXPECT_EQ(S(script.GetText()), "if (a < b && c) {}");
  EXPECT_FALSE(tree.GetRoot().GetNextChild(script).IsCData());
}

TEST_F(XmlLoadTest, FileReadInBlocksEqualsTheSameText) {
  // Texts and whitespace runs that cross the 5000-byte block boundaries.
  std::string text = "<?xml version=\"1.0\"?>\n<list>";
  for (int i = 0; i < 400; ++i) {
    text += "<item n=\"" + std::to_string(i) + "\">" + std::string(i % 37, ' ') + "value " +
            std::to_string(i) + std::string(i % 23, '\n') + "</item>\n";
  }
  text += "</list>";
  ASSERT_GT(text.size(), 15000u);
  const std::string path = WriteFile("data/list.xml", text);

  for (bool trim : {false, true}) {
    TuXMLTree fromFile;
    TuXMLTree fromText;
    ASSERT_TRUE(fromFile.LoadFile(path, trim, false));
    ASSERT_TRUE(fromText.LoadBuffer(text, trim));
    EXPECT_EQ(S(fromFile.FileName()), path);
    HxStr fileRendering;
    HxStr textRendering;
    ASSERT_TRUE(fromFile.GetRoot().RenderToString(fileRendering, false));
    ASSERT_TRUE(fromText.GetRoot().RenderToString(textRendering, false));
    EXPECT_EQ(S(fileRendering), S(textRendering));
    TuXMLNodeList items;
    ASSERT_TRUE(fromFile.FindNodes("list/item", items));
    EXPECT_EQ(items.GetCount(), 400);
    while (items.Next()) {
    }
    EXPECT_EQ(S(items.GetText()),
              trim ? "value 399" : std::string(29, ' ') + "value 399" + std::string(8, '\n'));
  }
}

TEST_F(XmlLoadTest, BackslashesInAPathAreSeparators) {
  WriteFile("dir/a.xml", "<r/>");
  TuXMLTree tree;
  const std::string path = Root().string() + "\\dir\\a.xml";
  EXPECT_TRUE(tree.LoadFile(path, false, false));
  EXPECT_EQ(S(tree.FileName()), path);  // the name stays as given
}

TEST_F(XmlLoadTest, MissingFileFailsOrGivesAnEmptyDocument) {
  const std::string path = (Root() / "new" / "state.xml").string();
  TuXMLTree missing;
  EXPECT_FALSE(missing.LoadFile(path, false, false));
  EXPECT_FALSE(missing.HasError());
  HxStr message;
  EXPECT_FALSE(missing.FormatError(message));
  EXPECT_EQ(S(message), "XML Error: Unknown\tFile: " + path + "\n");
  EXPECT_FALSE(missing.Save());  // no document to write

  TuXMLTree created;
  EXPECT_TRUE(created.LoadFile(path, false, true));
  EXPECT_FALSE(created.IsValid());  // a document without parse state
  EXPECT_FALSE(created.GetRoot().IsValid());
  created.CreateRoot("state").AddChildWithText("n", "1", false);
  ASSERT_TRUE(created.Save());  // to the remembered file name, directory made on the way
  TuXMLTree reread;
  ASSERT_TRUE(reread.LoadFile(path, true, false));
  EXPECT_EQ(S(reread.FindNode("state/n").GetText()), "1");
}

TEST_F(XmlLoadTest, WideTextIsUtf16WithZerosAfterIt) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<r>a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E</r>", false));  // a é € 𝄞
  char16_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  tree.GetRoot().GetTextWide(buffer, 8);
  const char16_t expected[8] = {u'a', 0x00E9, 0x20AC, 0xD834, 0xDD1E, 0, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(buffer), std::end(buffer), std::begin(expected)));

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  tree.GetRoot().GetTextWide(buffer, 2);  // at most `count` units
  EXPECT_EQ(buffer[1], 0x00E9);
  EXPECT_EQ(buffer[2], u'#');

  TuXMLTree empty;
  ASSERT_TRUE(empty.LoadBuffer("<r/>", false));
  empty.GetRoot().GetTextWide(buffer, 8);  // no text: the buffer is left alone
  EXPECT_EQ(buffer[2], u'#');
}

TEST_F(XmlLoadTest, ProviderIdReplacesItsTokenInValuesAndTexts) {
  ASSERT_TRUE(SetContextValue("ProviderId", "prov42"));
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer(
      "<r "
      "file=\"%PROVIDERID%\\file.dat\"><p>%PROVIDERID%/a/%PROVIDERID%</p><q>%providerid%</q></r>",
      true));
  TuXMLNode root = tree.GetRoot();
  TuXMLAttrEnum attribute = root.GetAttributes();
  ASSERT_TRUE(attribute.Next());
  EXPECT_EQ(S(attribute.GetValue()), "prov42\\file.dat");
  HxStr value;
  EXPECT_TRUE(root.GetAttribute("file", value));
  EXPECT_EQ(S(value), "prov42\\file.dat");
  EXPECT_EQ(S(root.GetAttributeValue("file")), "prov42\\file.dat");
  EXPECT_FALSE(root.GetAttribute("FILE", value));  // attribute names are exact
  EXPECT_EQ(S(root.GetAttributeValue("missing")), "");
  EXPECT_EQ(S(tree.FindNode("r/p").GetText()), "prov42/a/prov42");
  EXPECT_EQ(S(tree.FindNode("r/q").GetText()), "%providerid%");  // the token is exact

  // A provider id that holds the token is inserted once, not expanded without end.
  ASSERT_TRUE(SetContextValue("ProviderId", "x%PROVIDERID%"));
  EXPECT_EQ(S(tree.FindNode("r/p").GetText()), "x%PROVIDERID%/a/x%PROVIDERID%");
}

}  // namespace
