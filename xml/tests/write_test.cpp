// Writing: the fixed indented layout with CR LF line ends, short forms, CDATA sections, escaping,
// the declaration, replacing files through a temporary file, and rendering to a string.
#include <filesystem>
#include <string>
#include <utility>

#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n\r\n";

class XmlWriteTest : public XmlTest {
 protected:
  // Saves the tree to a fresh file and returns its bytes.
  std::string Saved(TuXMLTree& tree, bool escape) {
    const fs::path path = Root() / "out" / "saved.xml";
    EXPECT_TRUE(tree.SaveAs(escape, path.string()));
    EXPECT_EQ(CountFiles(path.parent_path(), "_tx"), 0);
    return ReadFile(path);
  }
};

// Short forms for empty children only, text beside children before the end tag, and the
// loaded declaration kept.
TEST_F(XmlWriteTest, LayoutOfShortFormsTextsAndTheDeclaration) {
  const std::string declared = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::pair<std::string, std::string> rows[] = {
      {"<root><empty/><one>x</one></root>",
       std::string(kDeclaration) + "<root>\r\n   <empty/>\r\n   <one>x</one>\r\n</root>\r\n"},
      {"<root a=\"1\"/>", std::string(kDeclaration) + "<root a=\"1\">\r\n</root>\r\n"},
      {"<r>t<a><b/></a></r>",
       std::string(kDeclaration) + "<r>   <a>\r\n      <b/>\r\n   </a>\r\nt</r>\r\n"},
      {declared + "<r/>", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"no\"?>"
                          "\r\n\r\n<r>\r\n</r>\r\n"},
  };
  for (const auto& [text, saved] : rows) {
    SCOPED_TRACE(text);
    TuXMLTree tree;
    ASSERT_TRUE(tree.LoadBuffer(text, false));
    EXPECT_EQ(Saved(tree, false), saved);
  }
}

TEST_F(XmlWriteTest, CDataGoesOutAsSectionUnlessItHoldsTheMarkers) {
  TuXMLTree tree;
  TuXMLNode root = tree.CreateRoot("r");
  root.AddChildWithText("s", "a < b", true);
  root.AddChildWithText("t", "x]]>y", true);
  root.AddChildWithText("u", "<![CDATA[", true);
  EXPECT_EQ(Saved(tree, true), std::string(kDeclaration) +
                                   "<r>\r\n"
                                   "   <s>\r\n<![CDATA[\r\na < b\r\n]]>\r\n   </s>\r\n"
                                   "   <t>x]]&gt;y</t>\r\n"
                                   "   <u>&lt;![CDATA[</u>\r\n"
                                   "</r>\r\n");
  // The section reads back as the same text when loaded with the trim flag; the plain texts
  // read back as written.
  TuXMLTree reread;
  ASSERT_TRUE(reread.LoadFile((Root() / "out" / "saved.xml").string(), true, false));
  TuXMLNode s = reread.FindNode("r/s");
  EXPECT_EQ(S(s.GetText()), "a < b");
  EXPECT_TRUE(s.IsCData());
  EXPECT_EQ(S(reread.FindNode("r/t").GetText()), "x]]>y");
  EXPECT_FALSE(reread.FindNode("r/t").IsCData());
  // Unescaped, such a text is written as it is.
  EXPECT_NE(Saved(tree, false).find("   <t>x]]>y</t>\r\n"), std::string::npos);
}

TEST_F(XmlWriteTest, EscapingCoversValuesAndTextsAndDropsControlCharacters) {
  TuXMLTree tree;
  TuXMLNode root = tree.CreateRoot("r");
  root.SetAttribute("v", "\"q\" & 'a' <t>");
  root.AddChildWithText("t", "a<b>&\"c'\x01\x1f\t\xC3\xA9\r\nz", false);
  EXPECT_EQ(Saved(tree, true), std::string(kDeclaration) +
                                   "<r v=\"&quot;q&quot; &amp; &apos;a&apos; &lt;t&gt;\">\r\n"
                                   "   <t>a&lt;b&gt;&amp;&quot;c&apos;\t\xC3\xA9\r\r\nz</t>\r\n"
                                   "</r>\r\n");
  // Without escaping the bytes go out as they are.
  EXPECT_NE(Saved(tree, false).find("<r v=\"\"q\" & 'a' <t>\">"), std::string::npos);

  TuXMLTree reread;
  ASSERT_TRUE(tree.SaveAs(true, (Root() / "escaped.xml").string()));
  ASSERT_TRUE(reread.LoadFile((Root() / "escaped.xml").string(), false, false));
  EXPECT_EQ(S(reread.GetRoot().GetAttributeValue("v")), "\"q\" & 'a' <t>");
  EXPECT_EQ(S(reread.FindNode("r/t").GetText()), "a<b>&\"c'\t\xC3\xA9\n\nz");
}

TEST_F(XmlWriteTest, SaveReplacesTheLoadedFileAndKeepsItsPermissions) {
  const std::string path = WriteFile("state/doc.xml", "<doc><old/></doc>");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadFile(path, true, false));
  tree.FindNode("doc/old").SetName("new");
  ASSERT_TRUE(tree.Save());
  EXPECT_EQ(ReadFile(path), std::string(kDeclaration) + "<doc>\r\n   <new/>\r\n</doc>\r\n");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(CountFiles(Root() / "state", "_tx"), 0);

  // A new file in a new directory chain is readable by everyone.
  const fs::path created = Root() / "a" / "b" / "c" / "new.xml";
  ASSERT_TRUE(tree.SaveAs(false, created.string()));
  EXPECT_EQ(fs::status(created).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST_F(XmlWriteTest, FailedSaveLeavesNoTemporaryFile) {
  fs::create_directories(Root() / "target.xml");  // a directory cannot be replaced by a file
  TuXMLTree tree;
  tree.CreateRoot("r");
  EXPECT_FALSE(tree.SaveAs(false, (Root() / "target.xml").string()));
  EXPECT_TRUE(fs::is_directory(Root() / "target.xml"));
  EXPECT_EQ(CountFiles(Root(), "_tx"), 0);
  EXPECT_FALSE(tree.Save());  // no path and no file name
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
