// Writing: the fixed indented layout with CR LF line ends, short forms, CDATA sections, escaping,
// the declaration, replacing files through a temporary file, and rendering to a string.
#include <filesystem>
#include <string>
#include <utility>

#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n\r\n";

class XmlWriteTest : public XmlTest {
 protected:
  // Saves the tree to a fresh file and returns its bytes.
  std::string Saved(TuXMLTree& tree, bool escape) {
    EXPECT_TRUE(tree.SaveAs(escape, SavedPath()));
    EXPECT_EQ(CountFiles(Root() / "out", "_tx"), 0);
    return ReadFile(SavedPath());
  }
  std::string SavedPath() const { return (Root() / "out" / "saved.xml").string(); }
};

// Short forms for empty children only, text beside children before the end tag, and the
// loaded declaration kept.
TEST_F(XmlWriteTest, LayoutOfShortFormsTextsAndTheDeclaration) {
  const std::pair<std::string, std::string> kRows[] = {
      {"<root><empty/><one>x</one></root>",
       kDeclaration + "<root>\r\n   <empty/>\r\n   <one>x</one>\r\n</root>\r\n"},
      {"<root a=\"1\"/>", kDeclaration + "<root a=\"1\">\r\n</root>\r\n"},
      {"<r>t<a><b/></a></r>", kDeclaration + "<r>   <a>\r\n      <b/>\r\n   </a>\r\nt</r>\r\n"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r/>",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"no\"?>\r\n\r\n<r>\r\n</r>\r\n"},
  };
  for (const auto& [text, saved] : kRows) {
    TuXMLTree tree;
    ASSERT_TRUE(tree.LoadBuffer(text, false));
    EXPECT_EQ(Saved(tree, false), saved) << text;
  }
}

// CDATA goes out as a section unless its text holds a section's markers. Escaping covers values
// and texts and drops control characters; everything reads back as it was, less those.
TEST_F(XmlWriteTest, CDataAndEscapingAndTheirRoundTrip) {
  TuXMLTree tree;
  TuXMLNode root = tree.CreateRoot("r");
  root.SetAttribute("v", "\"q\" & 'a' <t>");
  root.AddChildWithText("s", "a < b", true);
  root.AddChildWithText("t", "x]]>y", true);
  root.AddChildWithText("u", "<![CDATA[", true);
  root.AddChildWithText("e", "a<b>&\"c'\x01\x1f\t\xC3\xA9\r\nz", false);
  EXPECT_EQ(Saved(tree, true), kDeclaration +
                                   "<r v=\"&quot;q&quot; &amp; &apos;a&apos; &lt;t&gt;\">\r\n"
                                   "   <s>\r\n<![CDATA[\r\na < b\r\n]]>\r\n   </s>\r\n"
                                   "   <t>x]]&gt;y</t>\r\n"
                                   "   <u>&lt;![CDATA[</u>\r\n"
                                   "   <e>a&lt;b&gt;&amp;&quot;c&apos;\t\xC3\xA9\r\r\nz</e>\r\n"
                                   "</r>\r\n");
  TuXMLTree reread;
  ASSERT_TRUE(reread.LoadFile(SavedPath(), true, false));
  EXPECT_EQ(S(reread.GetRoot().GetAttributeValue("v")), "\"q\" & 'a' <t>");
  std::string texts;
  for (TuXMLNode c = reread.GetRoot().GetFirstChild(); c.IsValid();
       c = reread.GetRoot().GetNextChild(c)) {
    texts += S(c.GetText()) + (c.IsCData() ? "(cdata)|" : "|");
  }
  EXPECT_EQ(texts, "a < b(cdata)|x]]>y|<![CDATA[|a<b>&\"c'\t\xC3\xA9\n\nz|");
  // Unescaped, the bytes go out as they are.
  const std::string raw = Saved(tree, false);
  EXPECT_NE(raw.find("<r v=\"\"q\" & 'a' <t>\">"), std::string::npos);
  EXPECT_NE(raw.find("   <t>x]]>y</t>\r\n"), std::string::npos);
}

TEST_F(XmlWriteTest, SaveReplacesTheFileKeepsItsPermissionsAndFailsCleanly) {
  const std::string path = WriteFile("state/doc.xml", "<doc><old/></doc>");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, mode);
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadFile(path, true, false));
  tree.FindNode("doc/old").SetName("new");
  ASSERT_TRUE(tree.Save());
  EXPECT_EQ(ReadFile(path), kDeclaration + "<doc>\r\n   <new/>\r\n</doc>\r\n");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  EXPECT_EQ(CountFiles(Root() / "state", "_tx"), 0);

  // A new file in a new directory chain is readable by everyone.
  const fs::path created = Root() / "a" / "b" / "c" / "new.xml";
  ASSERT_TRUE(tree.SaveAs(false, created.string()));
  EXPECT_EQ(fs::status(created).permissions() & fs::perms::others_read, fs::perms::others_read);

  // A directory cannot be replaced by a file; no temporary file is left.
  fs::create_directories(Root() / "target.xml");
  EXPECT_FALSE(tree.SaveAs(false, (Root() / "target.xml").string()));
  EXPECT_TRUE(fs::is_directory(Root() / "target.xml"));
  EXPECT_EQ(CountFiles(Root(), "_tx"), 0);
  TuXMLTree unnamed;
  unnamed.CreateRoot("r");
  EXPECT_FALSE(unnamed.Save());  // no path and no file name
}

TEST_F(XmlWriteTest, RenderToStringIndentsFromDepthThreeWithLineFeeds) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<r><a k=\"&lt;\"><b>1</b><c/></a></r>", false));
  HxStr out;
  ASSERT_TRUE(tree.FindNode("r/a").RenderToString(out, true));
  EXPECT_EQ(S(out),
            "         <a k=\"&lt;\">\n"
            "            <b>1</b>\n"
            "            <c/>\n"
            "         </a>\n");
  ASSERT_TRUE(tree.FindNode("r/a/c").RenderToString(out, false));
  EXPECT_EQ(S(out), "         <c/>\n");  // not the root: the short form applies
  EXPECT_EQ(CountFiles(Root() / "tmp", "_tf"), 0);
}

}  // namespace
