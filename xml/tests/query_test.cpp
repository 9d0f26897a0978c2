// Queries and walks: path queries with their exact-case matching and first-match steps, child
// lists, the depth-first walker with its sibling and child moves.
#include <string>
#include <vector>

#include "xml/tu_xml_tree.h"
#include "xml_test_support.h"

namespace {

constexpr const char* kManifest =
    "<manifest>"
    "<filters><script name=\"a\"/></filters>"
    "<data-set><file n=\"1\"><property name=\"x\"/></file></data-set>"
    "<profile-set/>"
    "<data-set><file n=\"2\"/><file n=\"3\"/></data-set>"
    "</manifest>";

class XmlQueryTest : public XmlTest {
 protected:
  XmlQueryTest() { EXPECT_TRUE(tree_.LoadBuffer(kManifest, true)); }

  // The names of the elements a list holds, walked from its start.
  static std::string Names(TuXMLNodeList& list) {
    std::string names;
    list.Reset();
    while (list.Next()) names += S(list.GetName()) + S(list.GetAttributeValue("n")) + " ";
    return names;
  }

  // Names visited by Next from the start, each with its depth.
  static std::string Walk(TuXMLNodeEnum walker) {
    std::string seen;
    while (walker.Next()) seen += S(walker.GetName()) + std::to_string(walker.GetDepth()) + " ";
    return seen;
  }

  TuXMLTree tree_;
};

TEST_F(XmlQueryTest, PathsFindEveryExactMatchOfTheLastComponentAfterFirstMatchSteps) {
  const TuXMLNode dataSet = tree_.FindNode("manifest/data-set");
  const struct {
    const char* path;
    TuXMLNode start;
    bool found;
    const char* names;
  } kPaths[] = {
      {"/manifest/data-set", {}, true, "data-set data-set "},
      {"//manifest//data-set/", {}, true, "data-set data-set "},  // empty components skipped
      {"/Manifest/data-set", {}, false, ""},                      // letter case is exact
      {"/manifest/Data-Set", {}, false, ""},
      {"manifest/data-set/file", {}, true, "file1 "},  // not the second data-set's files
      {"/manifest", {}, true, ""},                     // the root alone finds nothing
      {"///", {}, false, ""},
      {"", {}, false, ""},
      // From a start element every component names children.
      {"file/property", dataSet, true, "property "},
      {"data-set/file", dataSet, false, ""},
      {"manifest/data-set", tree_.GetRoot(), false, ""},
      {"data-set", tree_.GetRoot(), true, "data-set data-set "},
  };
  for (const auto& query : kPaths) {
    TuXMLNodeList list;
    ASSERT_TRUE(tree_.FindNodes("filters", list, tree_.GetRoot()));  // a filled list is emptied
    EXPECT_EQ(tree_.FindNodes(query.path, list, query.start), query.found) << query.path;
    EXPECT_EQ(Names(list), query.names) << query.path;
    EXPECT_EQ(tree_.FindNode(query.path, query.start).IsValid(), *query.names != '\0');
  }
  // The list may serve as its own start: its current item is read before it is cleared.
  TuXMLNodeList list;
  ASSERT_TRUE(tree_.FindNodes("manifest/data-set", list));
  ASSERT_TRUE(list.Next() && list.Next());
  ASSERT_TRUE(tree_.FindNodes("file", list, list));
  EXPECT_EQ(Names(list), "file2 file3 ");
}

TEST_F(XmlQueryTest, OverlongPathIsCutAt259Bytes) {
  TuXMLTree deep;
  ASSERT_TRUE(deep.LoadBuffer(
      "<r><" + std::string(300, 'a') + "/><" + std::string(257, 'b') + "/></r>", false));
  EXPECT_FALSE(deep.FindNode("r/" + std::string(300, 'a')).IsValid());
  EXPECT_TRUE(deep.FindNode("r/" + std::string(257, 'b')).IsValid());
}

TEST_F(XmlQueryTest, WalkerVisitsTheSubtreeInPreOrder) {
  EXPECT_EQ(Walk(tree_.GetWalker()),
            "filters1 script2 data-set1 file2 property3 profile-set1 data-set1 file2 file2 ");
  // From an inner element only its own subtree is walked.
  EXPECT_EQ(Walk(tree_.FindNode("manifest/data-set").GetWalker()), "file1 property2 ");
  TuXMLNodeEnum invalid = TuXMLNode().GetWalker();
  EXPECT_EQ(invalid.GetDepth(), -1);
  EXPECT_FALSE(invalid.Next() || invalid.NextChild());
}

// Moves: S NextSibling, C NextChild, N Next; "!" marks a move that failed and left the walker
// where it was.
TEST_F(XmlQueryTest, WalkerMovesBySiblingsAndChildren) {
  TuXMLNodeEnum walker = tree_.GetWalker();
  std::string seen;
  for (const char move : std::string("SCSCSNNCSCS")) {
    const bool moved = move == 'S'   ? walker.NextSibling()
                       : move == 'C' ? walker.NextChild()
                                     : walker.Next();
    seen += std::string(moved ? "" : "!") + S(walker.GetName()) + S(walker.GetAttributeValue("n")) +
            "@" + std::to_string(walker.GetDepth()) + " ";
  }
  EXPECT_EQ(seen,
            "!manifest@0 filters@1 data-set@1 file1@2 !file1@2 property@3 profile-set@1 "
            "!profile-set@1 data-set@1 file2@2 file3@2 ");
  EXPECT_FALSE(walker.Next());  // the end
  walker.Reset();
  ASSERT_TRUE(walker.NextChild());
  EXPECT_EQ(S(walker.GetName()), "filters");  // children count from the first again
}

}  // namespace
