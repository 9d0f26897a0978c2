// Loading: the tree built from a text or a file read in blocks, the whitespace rules and the
// trim flag, CDATA, the declaration, missing files, UTF-16 output and the provider id in texts
// and attribute values.
#include <string>

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

// Whitespace alone is no text; the trim flag decides spaces around texts. Text beside children
// is collected around them and written after them.
TEST_F(XmlLoadTest, TrimFlagDecidesSpacesAroundTextsAndWhitespaceAloneIsNoText) {
  for (const bool trim : {false, true}) {
    TuXMLTree tree;
    ASSERT_TRUE(tree.LoadBuffer(
        "<r><a>  word  </a><b>\t\r\n x y \n</b><c>  \n \n  </c><d> x <e/> y </d></r>", trim));
    HxStr out;
    ASSERT_TRUE(tree.GetRoot().RenderToString(out, false));
    EXPECT_EQ(S(out),
              trim ? "         <r>\n            <a>word</a>\n            <b>x y</b>\n"
                     "            <c/>\n            <d>               <e/>\nx  y</d>\n"
                     "         </r>\n"
                   : "         <r>\n            <a>  word  </a>\n            <b>\t\n x y \n"
                     "</b>\n            <c/>\n            <d>               <e/>\n x  y </d>\n"
                     "         </r>\n");
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
  for (const int count : {8, 2}) {  // at most `count` units
    std::u16string buffer(8, u'#');
    tree.GetRoot().GetTextWide(buffer.data(), count);
    EXPECT_EQ(buffer, count == 8 ? std::u16string(u"a\u00E9\u20AC\xD834\xDD1E\0\0\0", 8)
                                 : u"a\u00E9######");
  }
  std::u16string untouched(8, u'#');
  ASSERT_TRUE(tree.LoadBuffer("<r/>", false));
  tree.GetRoot().GetTextWide(untouched.data(), 8);  // no text: the buffer is left alone
  EXPECT_EQ(untouched, std::u16string(8, u'#'));
}

// The provider id replaces every "%PROVIDERID%" (exact case) in texts and attribute values, once:
// a provider id holding the token is not expanded again.
TEST_F(XmlLoadTest, ProviderIdReplacesItsTokenInValuesAndTexts) {
  TuXMLTree tree;
  ASSERT_TRUE(
      tree.LoadBuffer("<r file=\"%PROVIDERID%\\file.dat\"><p>%PROVIDERID%/a/%PROVIDERID%"
                      "</p><q>%providerid%</q></r>",
                      true));
  const TuXMLNode root = tree.GetRoot();
  for (const char* id : {"prov42", "x%PROVIDERID%"}) {
    ASSERT_TRUE(SetContextValue("ProviderId", id));
    TuXMLAttrEnum attribute = root.GetAttributes();
    HxStr value;
    ASSERT_TRUE(attribute.Next() && root.GetAttribute("file", value));
    EXPECT_EQ(S(attribute.GetValue()) + "|" + S(value) + "|" + S(root.GetAttributeValue("file")) +
                  "|" + S(tree.FindNode("r/p").GetText()) + "|" + S(tree.FindNode("r/q").GetText()),
              std::string(id) + "\\file.dat|" + id + "\\file.dat|" + id + "\\file.dat|" + id +
                  "/a/" + id + "|%providerid%");
  }
  HxStr value;
  EXPECT_FALSE(root.GetAttribute("FILE", value));  // attribute names are exact
  EXPECT_EQ(S(root.GetAttributeValue("missing")), "");
}

}  // namespace
