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

using XmlLoadTest = XmlTest;

TEST_F(XmlLoadTest, BufferBuildsElementsAttributesAndDeclarationAndALoadReplacesThem) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<root b=\"2\" a=\"1\">\n"
      "  <first>one</first>\n  <second/>\n  <s><![CDATA[a < b && c]]></s>\n</root>",
      false));
  EXPECT_TRUE(tree.IsValid());
  EXPECT_EQ(S(tree.FileName()), "buffer");
  EXPECT_STREQ(tree.GetVersion(), "1.0");
  EXPECT_STREQ(tree.GetEncoding(), "UTF-8");

  TuXMLNode root = tree.GetRoot();
  EXPECT_EQ(S(root.GetName()) + "[" + S(root.GetText()) + "]", "root[]");  // whitespace dropped
  EXPECT_FALSE(root.GetParent().IsValid());
  std::string seen;
  for (TuXMLAttrEnum attribute = root.GetAttributes(); attribute.Next();) {
    seen += S(attribute.GetName()) + "=" + S(attribute.GetValue()) + " ";  // document order
  }
  for (TuXMLNode child = root.GetNextChild(TuXMLNode()); child.IsValid();
       child = root.GetNextChild(child)) {
    seen += S(child.GetName()) + ":" + S(child.GetText()) + (child.IsCData() ? "(cdata) " : " ");
    EXPECT_EQ(child.GetParent().Record(), root.Record());
  }
  EXPECT_EQ(seen, "b=2 a=1 first:one second: s:a < b && c(cdata) ");

  ASSERT_TRUE(tree.LoadBuffer("<second/>", false));
  EXPECT_EQ(S(tree.GetRoot().GetName()), "second");
  EXPECT_EQ(tree.GetVersion(), nullptr);
}

TEST_F(XmlLoadTest, TrimFlagDecidesSpacesAroundTextsAndWhitespaceAloneIsNoText) {
  const struct {
    const char* body;
    bool trim;
    const char* rendered;  // the first child, rendered from depth 3
  } kTexts[] = {
      {"<a>  word  </a>", false, "<a>  word  </a>"},
      {"<a>  word  </a>", true, "<a>word</a>"},
      {"<a>\t\r\n x y \n</a>", true, "<a>x y</a>"},
      {"<a>  \n \n  </a>", false, "<a/>"},
      {"<a>  \n \n  </a>", true, "<a/>"},
      // Text beside children is collected around them and written after them.
      {"<a> x <b/> y </a>", false, "<a>            <b/>\n x  y </a>"},
      {"<a> x <b/> y </a>", true, "<a>            <b/>\nx  y</a>"},
  };
  for (const auto& [body, trim, rendered] : kTexts) {
    TuXMLTree tree;
    ASSERT_TRUE(tree.LoadBuffer(std::string("<r>") + body + "</r>", trim));
    HxStr out;
    ASSERT_TRUE(tree.GetRoot().GetFirstChild().RenderToString(out, false));
    EXPECT_EQ(S(out), std::string(9, ' ') + rendered + "\n") << body << " trim " << trim;
  }
}

// Texts, whitespace runs and tokens longer than a block cross the block boundaries of a file.
TEST_F(XmlLoadTest, FileReadInBlocksEqualsTheSameText) {
  std::string text = "<?xml version=\"1.0\"?>\n<list long=\"" + std::string(700000, 'a') + "\">";
  for (int i = 0; text.size() < 1500000; ++i) {
    text += "<item n=\"" + std::to_string(i) + "\">" + std::string(i % 37, ' ') + "value " +
            std::to_string(i) + std::string(i % 23, '\n') + "</item>\n";
  }
  text +=
      "<!--" + std::string(600000, 'c') + "--><big>" + std::string(600000, 'b') + "</big></list>";
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
    EXPECT_TRUE(S(fileRendering) == S(textRendering)) << "trim " << trim;
    EXPECT_EQ(fromFile.GetRoot().GetAttributeValue("long").GetLength(), 700000);
    EXPECT_EQ(fromFile.FindNode("list/big").GetText().GetLength(), 600000);
  }
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
  const std::string backslashed = Root().string() + "\\new\\state.xml";  // separators too
  ASSERT_TRUE(reread.LoadFile(backslashed, true, false));
  EXPECT_EQ(S(reread.FileName()), backslashed);  // the name stays as given
  EXPECT_EQ(S(reread.FindNode("state/n").GetText()), "1");
}

TEST_F(XmlLoadTest, WideTextIsUtf16WithZerosAfterIt) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<r>a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E</r>", false));  // a é € 𝄞
  char16_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  tree.GetRoot().GetTextWide(buffer, 8);
  EXPECT_EQ(std::u16string(buffer, 8),
            (std::u16string{u'a', 0xE9, 0x20AC, 0xD834, 0xDD1E, 0, 0, 0}));
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  tree.GetRoot().GetTextWide(buffer, 2);  // at most `count` units
  EXPECT_EQ(std::u16string(buffer, 3), u"a\u00E9#");
  ASSERT_TRUE(tree.LoadBuffer("<r/>", false));
  tree.GetRoot().GetTextWide(buffer, 8);  // no text: the buffer is left alone
  EXPECT_EQ(buffer[2], u'#');
}

TEST_F(XmlLoadTest, ProviderIdReplacesItsTokenInValuesAndTexts) {
  ASSERT_TRUE(SetContextValue("ProviderId", "prov42"));
  TuXMLTree tree;
  ASSERT_TRUE(
      tree.LoadBuffer("<r file=\"%PROVIDERID%\\file.dat\"><p>%PROVIDERID%/a/%PROVIDERID%"
                      "</p><q>%providerid%</q></r>",
                      true));
  TuXMLNode root = tree.GetRoot();
  TuXMLAttrEnum attribute = root.GetAttributes();
  ASSERT_TRUE(attribute.Next());
  EXPECT_EQ(S(attribute.GetValue()), "prov42\\file.dat");
  HxStr value;
  EXPECT_TRUE(root.GetAttribute("file", value));
  EXPECT_EQ(S(value) + "|" + S(root.GetAttributeValue("file")),
            "prov42\\file.dat|prov42\\file.dat");
  EXPECT_FALSE(root.GetAttribute("FILE", value));  // attribute names are exact
  EXPECT_EQ(S(root.GetAttributeValue("missing")), "");
  EXPECT_EQ(S(tree.FindNode("r/p").GetText()), "prov42/a/prov42");
  EXPECT_EQ(S(tree.FindNode("r/q").GetText()), "%providerid%");  // the token is exact
  // A provider id that holds the token is inserted once, not expanded without end.
  ASSERT_TRUE(SetContextValue("ProviderId", "x%PROVIDERID%"));
  EXPECT_EQ(S(tree.FindNode("r/p").GetText()), "x%PROVIDERID%/a/x%PROVIDERID%");
}

}  // namespace
