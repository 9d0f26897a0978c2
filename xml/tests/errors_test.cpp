// Failed loads: malformed documents come back with the parser's message, line and column and
// leave no tree behind; the piece limit; read errors; the per-thread error code.
#include <memory>
#include <string>
#include <thread>

#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

std::string EntityExpansionBomb() {
  std::string text = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int level = 1; level < 9; ++level) {
    text += "<!ENTITY a" + std::to_string(level) + " \"";
    for (int copy = 0; copy < 10; ++copy) text += "&a" + std::to_string(level - 1) + ";";
    text += "\">";
  }
  return text + "]>\n<r>&a8;</r>";
}

class XmlErrorTest : public XmlTest {
 protected:
  // Loads `text` from a text (trimmed) or from a file (createIfMissing rescues no parse error).
  bool Load(TuXMLTree& tree, const std::string& text, bool fromFile) {
    if (!fromFile) return tree.LoadBuffer(text, true);
    return tree.LoadFile(WriteFile("bad.xml", text), false, true);
  }

  // The error line of a failed load, with "(tree left)" when any of the document survived.
  std::string Failure(TuXMLTree& tree) {
    HxStr line;
    EXPECT_FALSE(tree.FormatError(line));
    const bool left = tree.IsValid() || tree.GetRoot().IsValid() ||
                      tree.GetWalker().GetDepth() != -1 || tree.GetVersion() != nullptr ||
                      tree.SaveAs(false, (Root() / "never.xml").string());
    return S(line) + (left ? "(tree left)" : "");
  }
};

TEST_F(XmlErrorTest, EveryMalformedTextOrFileReportsThePositionAndLeavesNoTree) {
  const std::pair<std::string, std::string> kMalformed[] = {
      // text, error (columns from 0)
      {"", "no element found\tLine: 1\tColumn: 0"},
      {"<r>\n<a/>", "no element found\tLine: 2\tColumn: 4"},
      {"<r>\xC3", "partial character\tLine: 1\tColumn: 3"},
      // Late in a file: the lines of every block before count.
      {"<r>\n" + Repeat("  <a>value</a>\n", 600000) + "  <b></c>\n</r>\n",
       "mismatched tag\tLine: 40002\tColumn: 7"},
      {"<?xml version=\"1.0\" encoding=\"x-nope\"?><r/>", "unknown encoding\tLine: 1\tColumn: 30"},
      {EntityExpansionBomb(),
       "limit on input amplification factor (from DTD and entities) breached\tLine: 2\tColumn: 3"},
  };
  for (const auto& [text, error] : kMalformed) {
    for (bool fromFile : {false, true}) {
      TuXMLTree tree;
      EXPECT_FALSE(Load(tree, text, fromFile));
      const std::string name = fromFile ? (Root() / "bad.xml").string() : "buffer";
      EXPECT_EQ(Failure(tree), "Parsing XML Error: " + error.substr(0, error.find('\t')) +
                                   "\tFile: " + name + error.substr(error.find('\t')) + "\n");
    }
  }
}

// A piece is a tag with its attributes, a comment or other markup, or the whole text of one
// element, however the parser hands it over.
TEST_F(XmlErrorTest, PieceLimitRefusesLongerTextsAndMarkup) {
  constexpr size_t kLimit = 100;
  const std::string fill(kLimit, 'f');
  std::string many = "<c a=\"1\">t</c>";  // more than one block of a file
  while (many.size() < 300000) many += "<!-- c -->";
  const struct {
    const char* what;
    std::string text;
    bool refused;
  } kPieces[] = {
      {"attribute", "<r a=\"" + fill + "\"/>", true},
      {"tag", "<r a=\"" + fill.substr(50) + "\" b=\"" + fill.substr(50) + "\"/>", true},
      {"comment", "<r><!--" + fill + "--></r>", true},
      {"text", "<r>" + fill + "t</r>", true},
      {"text beside a child", "<r>" + fill.substr(40) + "<c/>" + fill.substr(40) + "</r>", true},
      {"text of references", "<r>" + std::string(26, 'x') + std::string(75, '&') + "</r>", true},
      {"CDATA", "<r><![CDATA[" + fill + "t]]></r>", true},
      {"text at the limit", "<r>" + fill + "</r>", false},
      {"many short pieces", "<r>" + many + "</r>", false},
  };
  for (const auto& piece : kPieces) {
    std::string text = piece.text;
    for (size_t at = 0; (at = text.find('&', at)) != std::string::npos; at += 5) {
      text.replace(at, 1, "&amp;");
    }
    for (bool fromFile : {false, true}) {
      TuXMLTree tree;
      tree.SetPieceLimit(kLimit);
      EXPECT_EQ(Load(tree, text, fromFile), !piece.refused) << piece.what;
      const std::string refusal = "Parsing XML Error: text or markup longer than 100 bytes\tFile: ";
      if (piece.refused) {
        EXPECT_EQ(Failure(tree).substr(0, refusal.size()), refusal) << piece.what;
      }
    }
  }
}

// Unfinished at the end of a block, a piece over the limit is refused as it grows, where it
// starts; without the limit, it is parsed whole however long.
TEST_F(XmlErrorTest, PieceLongerThanTheBlocksOfAFile) {
  const std::string path =
      WriteFile("long.xml", "<r>\n <a b=\"" + std::string(3 << 20, 'a') + "\"/></r>");
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadFile(path, true, false));
  EXPECT_EQ(tree.FindNode("r/a").GetAttributeValue("b").GetLength(), 3 << 20);
  tree.SetPieceLimit(1 << 20);
  EXPECT_FALSE(tree.LoadFile(path, true, false));
  EXPECT_EQ(Failure(tree), "Parsing XML Error: text or markup longer than 1048576 bytes\tFile: " +
                               path + "\tLine: 2\tColumn: 1\n");
}

TEST_F(XmlErrorTest, ReadErrorIsAnInputOutputError) {
  std::filesystem::create_directories(Root() / "folder.xml");
  const std::string path = (Root() / "folder.xml").string();
  TuXMLTree tree;
  EXPECT_FALSE(tree.LoadFile(path, false, false));
  EXPECT_EQ(Failure(tree), "XML Error: Input/Output error\tFile: " + path + "\n");
}

TEST_F(XmlErrorTest, ErrorCodeBelongsToTheThreadAndEachLoadStartsAtZero) {
  TuXMLTree good;
  ASSERT_FALSE(good.LoadBuffer("<r>", false));
  ASSERT_TRUE(good.LoadBuffer("<r/>", false));  // a new load starts from code 0
  EXPECT_EQ(S(good.GetErrorString()), "");
  HxStr line("untouched");
  EXPECT_TRUE(good.FormatError(line));
  EXPECT_EQ(S(line), "untouched");

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
