// Loading the manifest into the scripts table and the profile and data files tables.
#include <string>

#include "foundation/log/host_logger.h"
#include "manifest_test_support.h"
#include "noltsync/manifest/nolt_manifest.h"
#include "xml/tu_xml_tree.h"

namespace {

std::string Property(const std::string& name, const std::string& value) {
  return "<property name=\"" + name + "\">" + value + "</property>";
}

std::string File(const std::string& properties) { return "<file>" + properties + "</file>"; }

const char kFullManifest[] =
    "<manifest>\n"
    " <filters>\n"
    "  <script name=\"rules\" group=\"g1\">  and|%A::?::B%||=|1  </script>\n"
    "  <script name=\"vb\" language=\"vbscript\">x = 1</script>\n"
    "  <script name=\"js\" language=\"JavaScript\">var x;</script>\n"
    "  <script name=\"own\" language=\"nolt\">or|%A::?::B%||=|1</script>\n"
    " </filters>\n"
    " <profile-set>\n"
    "  <file>\n"
    "   <property name=\"FileName\">p.dat</property>\n"
    "   <property name=\"source\">src\\%PROVIDERID%</property>\n"
    "   <property name=\"target\">  %DirContent%  </property>\n"
    "   <property name=\"fchecksum\">0123456789abcdef0123456789abcdef</property>\n"
    "   <property name=\"filters\">rules,vb</property>\n"
    "   <property name=\"machinelevel\">1</property>\n"
    "  </file>\n"
    " </profile-set>\n"
    " <data-set>\n"
    "  <file><property name=\"filename\">m.dat</property>"
    "<property name=\"MachineLevel\">1</property></file>\n"
    "  <file><property name=\"filename\">u.dat</property>"
    "<property name=\"machinelevel\">yes</property></file>\n"
    "  <file><property name=\"filename\">both.dat</property></file>\n"
    " </data-set>\n"
    "</manifest>\n";

using ManifestLoadTest = ManifestTest;

TEST_F(ManifestLoadTest, ReadsScriptsFilePropertiesAndLevelMarks) {
  NoltManifest manifest;
  ASSERT_TRUE(manifest.LoadManifest(WriteFile("manifest.xml", kFullManifest)));

  const ManifestFilterScripts& scripts = manifest.Scripts();
  ASSERT_EQ(scripts.size(), 4u);
  const ManifestScriptEntry& rules = scripts.at("RULES");
  EXPECT_EQ(S(rules.text), "and|%A::?::B%||=|1");  // trimmed
  EXPECT_EQ(S(rules.group), "g1");
  EXPECT_EQ(rules.language, kScriptRule);
  EXPECT_EQ(S(scripts.at("vb").group), "");
  EXPECT_EQ(scripts.at("vb").language, kScriptVbScript);
  EXPECT_EQ(scripts.at("js").language, kScriptJScript);
  EXPECT_EQ(scripts.at("own").language, kScriptRule);
  // Iteration runs in case-insensitive key order.
  std::string order;
  for (const auto& [name, entry] : scripts) order += S(name) + ",";
  EXPECT_EQ(order, "js,own,rules,vb,");

  ASSERT_EQ(manifest.ProfileFiles().size(), 1u);
  const ManifestFileEntry& profile = manifest.ProfileFiles().at("P.DAT");
  EXPECT_EQ(S(profile.fileName), "p.dat");
  EXPECT_EQ(S(profile.source), "src\\prov");  // provider id put in
  EXPECT_EQ(S(profile.target), "%DirContent%");
  EXPECT_EQ(S(profile.checksum), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(S(profile.filters), "rules,vb");
  EXPECT_TRUE(profile.spare.IsEmpty());
  // The level property is read only under the data set.
  EXPECT_TRUE(profile.machineLevel);
  EXPECT_TRUE(profile.userLevel);

  const ManifestFileTable& data = manifest.DataFiles();
  ASSERT_EQ(data.size(), 3u);
  EXPECT_TRUE(data.at("m.dat").machineLevel);
  EXPECT_FALSE(data.at("m.dat").userLevel);
  EXPECT_FALSE(data.at("u.dat").machineLevel);
  EXPECT_TRUE(data.at("u.dat").userLevel);
  EXPECT_TRUE(data.at("both.dat").machineLevel);
  EXPECT_TRUE(data.at("both.dat").userLevel);
}

// Files without a name are skipped, the first entry of a key stays, only the first set of each
// kind counts and element names are exact.
TEST_F(ManifestLoadTest, SkipsNamelessFilesLaterDuplicatesAndOtherSets) {
  NoltManifest manifest;
  const std::string text =
      "<m><filters><script name=\"a\">first</script><script name=\"A\">second</script>"
      "</filters><Profile-Set>" + File(Property("filename", "case.dat")) +
      "</Profile-Set><profile-set>" + File(Property("source", "s")) +
      File(Property("filename", "")) + File(Property("filename", "1.dat")) +
      "</profile-set><profile-set>" + File(Property("filename", "2.dat")) +
      "</profile-set><data-set>" + File(Property("target", "t")) +
      File(Property("filename", "x.dat") + Property("source", "one")) +
      File(Property("filename", "X.DAT") + Property("source", "two")) +
      "</data-set><x><data-set>" + File(Property("filename", "deep")) + "</data-set></x></m>";
  ASSERT_TRUE(manifest.LoadManifest(WriteFile("m.xml", text)));
  ASSERT_EQ(manifest.Scripts().size(), 1u);
  EXPECT_EQ(S(manifest.Scripts().begin()->first), "a");
  EXPECT_EQ(S(manifest.Scripts().begin()->second.text), "first");
  ASSERT_EQ(manifest.ProfileFiles().size(), 1u);
  EXPECT_EQ(manifest.ProfileFiles().count("1.dat"), 1u);
  ASSERT_EQ(manifest.DataFiles().size(), 1u);
  EXPECT_EQ(S(manifest.DataFiles().at("x.dat").source), "one");
}

TEST_F(ManifestLoadTest, ASecondLoadAddsInKeyOrderAndKeepsPresentEntries) {
  NoltManifest manifest;
  auto dataSet = [](std::initializer_list<std::pair<const char*, const char*>> files) {
    std::string text = "<m><data-set>";
    for (const auto& [name, source] : files) {
      text += File(Property("filename", name) + Property("source", source));
    }
    return text + "</data-set></m>";
  };
  ASSERT_TRUE(manifest.LoadManifest(WriteFile("1.xml", dataSet({{"m.dat", "1"}, {"b.dat", "1"}}))));
  ASSERT_TRUE(manifest.LoadManifest(WriteFile(
      "2.xml", dataSet({{"Z.dat", "2"}, {"B.DAT", "2"}, {"a.dat", "2"}, {"z.dat", "3"}}))));
  std::string order;
  for (const auto& [name, entry] : manifest.DataFiles()) order += S(name) + S(entry.source) + " ";
  EXPECT_EQ(order, "a.dat2 b.dat1 m.dat1 Z.dat2 ");
}

TEST_F(ManifestLoadTest, ReadPropertyTakesTheLastMatchIgnoringCase) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.LoadBuffer("<file><property name=\"Source\">a</property>"
                              "<property name=\"other\">b</property>"
                              "<property name=\"SOURCE\">c</property></file>",
                              true));
  HxStr value;
  EXPECT_TRUE(ReadProperty(tree.GetRoot(), "source", value));
  EXPECT_EQ(S(value), "c");
  HxStr untouched("keep");
  EXPECT_FALSE(ReadProperty(tree.GetRoot(), "target", untouched));
  EXPECT_EQ(S(untouched), "keep");
}

// The error cases: each logs one level-8 line and leaves the tables as they were.
class ManifestErrorTest : public ManifestTest {
 protected:
  void LoadGoodManifest() {
    ASSERT_TRUE(manifest_.LoadManifest(WriteFile("good.xml", kFullManifest)));
  }
  void ExpectTablesUnchanged() const {
    EXPECT_EQ(manifest_.Scripts().size(), 4u);
    EXPECT_EQ(manifest_.ProfileFiles().size(), 1u);
    EXPECT_EQ(manifest_.DataFiles().size(), 3u);
    EXPECT_EQ(manifest_.DataFiles().count("late.dat"), 0u);
  }
  NoltManifest manifest_;
};

TEST_F(ManifestErrorTest, MalformedXmlLogsTheParserMessageWithLineAndColumn) {
  LoadGoodManifest();
  // Well-formed entries come before the error, so a partial parse would have added them.
  const std::string text = "<m>\n<data-set>" + File(Property("filename", "late.dat")) +
                           "</data-set>\n<filters><script name=\"z\">t</script></filters>\n"
                           "  <broken></m>\n";
  EXPECT_FALSE(manifest_.LoadManifest(WriteFile("bad.xml", text)));
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].level, kLogError);
  EXPECT_EQ(Log()[0].format, "Manifest XML Parser Error: %s\tLine: %d\tColumn: %d\n");
  EXPECT_EQ(Log()[0].text, "Manifest XML Parser Error: mismatched tag\tLine: 4\tColumn: 12\n");
  ExpectTablesUnchanged();
  EXPECT_EQ(manifest_.Scripts().count("z"), 0u);

  EXPECT_FALSE(manifest_.LoadManifest(WriteFile("empty.xml", "")));  // empty: a parse error
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_EQ(Log()[1].format, "Manifest XML Parser Error: %s\tLine: %d\tColumn: %d\n");
}

TEST_F(ManifestErrorTest, UnreadableFileLogsUnknownError) {
  LoadGoodManifest();
  EXPECT_FALSE(manifest_.LoadManifest(WriteFile("missing", "") + ".absent"));
  EXPECT_EQ(CountLogged(kLogError, "XML Error: Unknown\n"), 1);
  EXPECT_EQ(Log().size(), 1u);
  ExpectTablesUnchanged();
}

}  // namespace
