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
  static std::vector<std::string> Names(TuXMLNodeList& list) {
    std::vector<std::string> names;
    list.Reset();
    while (list.Next()) names.push_back(S(list.GetName()) + S(list.GetAttributeValue("n")));
    return names;
  }

  // Names visited by Next from the start, each with its depth.
  static std::vector<std::string> Walk(TuXMLNodeEnum walker) {
    std::vector<std::string> seen;
    while (walker.Next()) seen.push_back(S(walker.GetName()) + std::to_string(walker.GetDepth()));
    return seen;
  }

  TuXMLTree tree_;
};

TEST_F(XmlQueryTest, PathFromTheRootReturnsEveryExactCaseMatchOfTheLastComponent) {
  TuXMLNodeList list;
  ASSERT_TRUE(tree_.FindNodes("/manifest/data-set", list));
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"data-set", "data-set"}));

  // Empty components are skipped.
  EXPECT_TRUE(tree_.FindNodes("//manifest//data-set/", list));
  EXPECT_EQ(list.GetCount(), 2);
  // Letter case is exact.
  EXPECT_FALSE(tree_.FindNodes("/Manifest/data-set", list));
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(tree_.FindNodes("/manifest/Data-Set", list));
  EXPECT_FALSE(tree_.FindNode("manifest/DATA-SET").IsValid());
}

TEST_F(XmlQueryTest, InnerStepsFollowOnlyTheFirstMatchAndTheRootAloneFindsNothing) {
  TuXMLNodeList files;
  ASSERT_TRUE(tree_.FindNodes("manifest/data-set/file", files));
  EXPECT_EQ(Names(files), (std::vector<std::string>{"file1"}));  // not the second data-set's
  EXPECT_EQ(S(tree_.FindNode("manifest/data-set/file").GetAttributeValue("n")), "1");

  // The root alone is true with nothing found (the filled list is emptied).
  TuXMLNodeList list;
  ASSERT_TRUE(tree_.FindNodes("data-set", list, tree_.GetRoot()));
  EXPECT_TRUE(tree_.FindNodes("/manifest", list));
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(tree_.FindNode("manifest").IsValid());
  EXPECT_FALSE(tree_.FindNodes("///", list));
  EXPECT_FALSE(tree_.FindNodes("", list));
}

TEST_F(XmlQueryTest, StartElementMakesEveryComponentAChildName) {
  const TuXMLNode dataSet = tree_.FindNode("manifest/data-set");
  TuXMLNodeList list;
  ASSERT_TRUE(tree_.FindNodes("file/property", list, dataSet));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"property"}));
  EXPECT_FALSE(tree_.FindNodes("data-set/file", list, dataSet));  // not looked up from the root
  EXPECT_FALSE(tree_.FindNodes("manifest/data-set", list, tree_.GetRoot()));
  // The list may serve as its own start: its current item is read before it is cleared.
  ASSERT_TRUE(tree_.FindNodes("manifest/data-set", list));
  ASSERT_TRUE(list.Next() && list.Next());
  ASSERT_TRUE(tree_.FindNodes("file", list, list));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"file2", "file3"}));
}

TEST_F(XmlQueryTest, OverlongPathIsCutAt259Bytes) {
  TuXMLTree deep;
  ASSERT_TRUE(deep.LoadBuffer("<r><" + std::string(300, 'a') + "/></r>", false));
  EXPECT_FALSE(deep.FindNode("r/" + std::string(300, 'a')).IsValid());
  ASSERT_TRUE(deep.LoadBuffer("<r><" + std::string(257, 'a') + "/></r>", false));
  EXPECT_TRUE(deep.FindNode("r/" + std::string(257, 'a')).IsValid());
}

TEST_F(XmlQueryTest, ListCursorAndCurrentItem) {
  TuXMLNodeList list;
  ASSERT_TRUE(tree_.GetRoot().FindChildren("data-set", list));
  EXPECT_FALSE(list.IsValid());  // before the first item
  ASSERT_TRUE(list.Next());
  EXPECT_EQ(list.GetPosition(), 1);
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(list.IsValid());
  EXPECT_FALSE(list.Next());
}

TEST_F(XmlQueryTest, WalkerVisitsTheSubtreeInPreOrder) {
  EXPECT_EQ(Walk(tree_.GetWalker()),
            (std::vector<std::string>{"filters1", "script2", "data-set1", "file2", "property3",
                                      "profile-set1", "data-set1", "file2", "file2"}));
  // From an inner element only its own subtree is walked.
  EXPECT_EQ(Walk(tree_.FindNode("manifest/data-set").GetWalker()),
            (std::vector<std::string>{"file1", "property2"}));
  TuXMLNodeEnum invalid = TuXMLNode().GetWalker();
  EXPECT_EQ(invalid.GetDepth(), -1);
  EXPECT_FALSE(invalid.Next());
  EXPECT_FALSE(invalid.NextChild());
}

TEST_F(XmlQueryTest, WalkerMovesBySiblingsAndChildren) {
  TuXMLNodeEnum walker = tree_.GetWalker();
  EXPECT_EQ(walker.GetDepth(), 0);
  EXPECT_EQ(S(walker.GetName()), "manifest");
  EXPECT_FALSE(walker.NextSibling());  // never beyond the start element

  ASSERT_TRUE(walker.NextChild());    // filters
  ASSERT_TRUE(walker.NextSibling());  // skips the script below filters
  EXPECT_EQ(S(walker.GetName()), "data-set");
  ASSERT_TRUE(walker.NextChild());
  EXPECT_EQ(S(walker.GetAttributeValue("n")), "1");
  EXPECT_FALSE(walker.NextSibling());  // the only file: position unchanged
  EXPECT_EQ(S(walker.GetAttributeValue("n")), "1");
  EXPECT_EQ(walker.GetDepth(), 2);
  ASSERT_TRUE(walker.Next());  // down into the file
  EXPECT_EQ(S(walker.GetName()), "property");
  ASSERT_TRUE(walker.Next());  // up and across
  EXPECT_EQ(S(walker.GetName()), "profile-set");
  EXPECT_EQ(walker.GetDepth(), 1);
  EXPECT_FALSE(walker.NextChild());
  ASSERT_TRUE(walker.NextSibling());
  ASSERT_TRUE(walker.NextChild());
  ASSERT_TRUE(walker.NextSibling());
  EXPECT_EQ(S(walker.GetAttributeValue("n")), "3");
  EXPECT_FALSE(walker.Next());  // the end

  walker.Reset();
  EXPECT_EQ(walker.GetDepth(), 0);
  ASSERT_TRUE(walker.NextChild());
  EXPECT_EQ(S(walker.GetName()), "filters");  // children count from the first again
}

}  // namespace
