// Failed loads: every kind of malformed document the parser reports comes back with its message,
// line and column and leaves no tree behind; read errors; the per-thread error code.
#include <memory>
#include <string>
#include <thread>

#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

struct Malformed {
  const char* what;
  std::string text;
  const char* message;
  int line;
  int column;  // the parser counts columns from 0
};

std::string EntityExpansionBomb() {
  std::string text = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int level = 1; level < 9; ++level) {
    text += "<!ENTITY a" + std::to_string(level) + " \"";
    for (int copy = 0; copy < 10; ++copy) text += "&a" + std::to_string(level - 1) + ";";
    text += "\">";
  }
  return text + "]>\n<r>&a8;</r>";
}

const Malformed kMalformed[] = {
    {"content model", "<!DOCTYPE r [<!ELEMENT r (a|b,c)>]><r/>", "syntax error", 1, 29},
    {"empty", "", "no element found", 1, 0},
    {"unclosed root", "<r>\n<a/>", "no element found", 2, 4},
    {"bad token", "<r>\n  <</r>", "not well-formed (invalid token)", 2, 3},
    {"unclosed tag", "<r", "unclosed token", 1, 0},
    {"cut character", "<r>\xC3", "partial character", 1, 3},
    {"mismatch", "<a>\n</b>", "mismatched tag", 2, 2},
    {"attribute twice", "<r a=\"1\" a=\"2\"/>", "duplicate attribute", 1, 9},
    {"second root", "<a/>\n<b/>", "junk after document element", 2, 0},
    {"parameter entity", "<!DOCTYPE r [<!ENTITY % p \"x\"> <!ELEMENT r (%p;)>]><r/>",
     "illegal parameter entity reference", 1, 44},
    {"undefined entity", "<r>&x;</r>", "undefined entity", 1, 3},
    {"recursive entity", "<!DOCTYPE r [<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">]><r>&a;</r>",
     "recursive entity reference", 1, 52},
    {"asynchronous entity", "<!DOCTYPE r [<!ENTITY e \"<a>\">]><r>&e;</r>", "asynchronous entity",
     1, 35},
    {"character zero", "<r>&#0;</r>", "reference to invalid character number", 1, 3},
    {"binary entity",
     "<!DOCTYPE r [<!NOTATION n SYSTEM \"x\"><!ENTITY e SYSTEM \"y\" NDATA n>]><r>&e;</r>",
     "reference to binary entity", 1, 72},
    {"external in attribute", "<!DOCTYPE r [<!ENTITY e SYSTEM \"y\">]><r a=\"&e;\"/>",
     "reference to external entity in attribute", 1, 43},
    {"late declaration", "<r>\n<?xml version=\"1.0\"?></r>",
     "XML or text declaration not at start of entity", 2, 0},
    {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-nope\"?><r/>", "unknown encoding", 1,
     30},
    {"wrong encoding", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r/>",
     "encoding specified in XML declaration is incorrect", 1, 30},
    {"unclosed CDATA", "<r><![CDATA[x", "unclosed CDATA section", 1, 13},
    {"bad declaration", "<?xml version=\"1.0\" foo=\"x\"?><r/>", "XML declaration not well-formed",
     1, 20},
    {"public id", "<!DOCTYPE r PUBLIC \"a{b\" \"x\"><r/>", "illegal character(s) in public id", 1,
     21},
    {"entity bomb", EntityExpansionBomb(),
     "limit on input amplification factor (from DTD and entities) breached", 2, 3},
};

class XmlErrorTest : public XmlTest {
 protected:
  // The tree of a failed load: the error and no document.
  void ExpectFailedParse(TuXMLTree& tree, const Malformed& bad, const std::string& fileName) {
    SCOPED_TRACE(bad.what);
    EXPECT_TRUE(tree.HasError());
    EXPECT_TRUE(tree.IsParseError());
    EXPECT_FALSE(tree.IsValid());
    EXPECT_EQ(S(tree.GetErrorString()), bad.message);
    EXPECT_EQ(tree.GetErrorLine(), bad.line);
    EXPECT_EQ(tree.GetErrorColumn(), bad.column);
    HxStr line;
    EXPECT_FALSE(tree.FormatError(line));
    EXPECT_EQ(S(line), "Parsing XML Error: " + std::string(bad.message) + "\tFile: " + fileName +
                           "\tLine: " + std::to_string(bad.line) +
                           "\tColumn: " + std::to_string(bad.column) + "\n");
    ExpectNoTree(tree);
  }

  void ExpectNoTree(TuXMLTree& tree) {
    EXPECT_FALSE(tree.GetRoot().IsValid());
    EXPECT_EQ(tree.GetWalker().GetDepth(), -1);
    EXPECT_FALSE(tree.FindNode("r").IsValid());
    EXPECT_EQ(tree.GetVersion(), nullptr);
    EXPECT_FALSE(tree.SaveAs(false, (Root() / "never.xml").string()));  // nothing to write
  }
};

TEST_F(XmlErrorTest, EveryMalformedTextOrFileReportsThePositionAndLeavesNoTree) {
  for (const Malformed& bad : kMalformed) {
    TuXMLTree fromText;
    EXPECT_FALSE(fromText.LoadBuffer(bad.text, true)) << bad.what;
    ExpectFailedParse(fromText, bad, "buffer");
    const std::string path = WriteFile("bad.xml", bad.text);
    TuXMLTree fromFile;
    EXPECT_FALSE(fromFile.LoadFile(path, false, true)) << bad.what;  // createIfMissing: no rescue
    ExpectFailedParse(fromFile, bad, path);
  }
}

TEST_F(XmlErrorTest, ErrorInALaterBlockCountsLinesFromTheStart) {
  std::string text = "<r>\n";
  for (int i = 0; i < 1000; ++i) text += "  <a>value</a>\n";
  text += "  <b></c>\n</r>\n";
  ASSERT_GT(text.size(), 3 * 5000u);
  const std::string path = WriteFile("late.xml", text);
  TuXMLTree tree;
  EXPECT_FALSE(tree.LoadFile(path, true, false));
  ExpectFailedParse(tree, Malformed{"late", text, "mismatched tag", 1002, 7}, path);
}

TEST_F(XmlErrorTest, ReadErrorIsAnInputOutputError) {
  std::filesystem::create_directories(Root() / "folder.xml");
  const std::string path = (Root() / "folder.xml").string();
  TuXMLTree tree;
  EXPECT_FALSE(tree.LoadFile(path, false, false));
  EXPECT_TRUE(tree.HasError());
  EXPECT_FALSE(tree.IsParseError());
  EXPECT_EQ(S(tree.GetErrorString()), "Input/Output error");
  EXPECT_EQ(tree.GetErrorLine(), 0);
  EXPECT_EQ(tree.GetErrorColumn(), 0);
  HxStr line;
  EXPECT_FALSE(tree.FormatError(line));
  EXPECT_EQ(S(line), "XML Error: Input/Output error\tFile: " + path + "\n");
  ExpectNoTree(tree);
}

TEST_F(XmlErrorTest, ValidTreeHasNoErrorToFormat) {
  TuXMLTree tree;
  ASSERT_FALSE(tree.LoadBuffer("<r>", false));
  ASSERT_TRUE(tree.LoadBuffer("<r/>", false));  // a new load starts from code 0
  EXPECT_FALSE(tree.HasError());
  EXPECT_EQ(S(tree.GetErrorString()), "");
  HxStr line("untouched");
  EXPECT_TRUE(tree.FormatError(line));
  EXPECT_EQ(S(line), "untouched");
}

TEST_F(XmlErrorTest, ErrorCodeBelongsToTheThread) {
  TuXMLTree good;
  ASSERT_TRUE(good.LoadBuffer("<r/>", false));
  bool otherFailed = false;
  std::thread other([&otherFailed] {
    TuXMLTree bad;
    otherFailed = !bad.LoadBuffer("<r>", false) && bad.IsParseError();
  });
  other.join();
  EXPECT_TRUE(otherFailed);
  EXPECT_TRUE(good.IsValid());  // another thread's failure is not this thread's

  // A failure on this thread is seen by every tree of this thread, until a tree is destroyed.
  auto bad = std::make_unique<TuXMLTree>();
  EXPECT_FALSE(bad->LoadBuffer("<r>", false));
  EXPECT_FALSE(good.IsValid());
  EXPECT_TRUE(good.HasError());
  bad.reset();
  EXPECT_TRUE(good.IsValid());
}

}  // namespace
