// Loading the manifest into the scripts table and the profile and data files tables.
#include <string>

#include "foundation/log/host_logger.h"
#include "manifest_test_support.h"
#include "noltsync/manifest/nolt_manifest.h"
#include "xml/tu_xml_tree.h"

namespace {

std::string File(const std::string& name, const std::string& source = "") {
  return "<file><property name=\"filename\">" + name + "</property><property name=\"source\">" +
         source + "</property></file>";
}

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

class ManifestLoadTest : public ManifestTest {
 protected:
  // "name:source machine user" for each data file, in table order.
  std::string DataFiles() const {
    std::string text;
    for (const auto& [name, entry] : manifest_.DataFiles()) {
      text += S(name) + ":" + S(entry.source) + (entry.machineLevel ? " m" : " -") +
              (entry.userLevel ? "u " : "- ");
    }
    return text;
  }
  NoltManifest manifest_;
};

TEST_F(ManifestLoadTest, ReadsScriptsFilePropertiesAndLevelMarks) {
  ASSERT_TRUE(manifest_.LoadManifest(WriteFile("manifest.xml", kFullManifest)));
  std::string scripts;  // in case-insensitive key order
  for (const auto& [name, entry] : manifest_.Scripts()) {
    scripts += S(name) + "=" + S(entry.text) + "/" + S(entry.group) + "/" +
               std::to_string(entry.language) + " ";
  }
  EXPECT_EQ(scripts, "js=var x;//" + std::to_string(kScriptJScript) + " own=or|%A::?::B%||=|1//" +
                         std::to_string(kScriptRule) + " rules=and|%A::?::B%||=|1/g1/" +
                         std::to_string(kScriptRule) + " vb=x = 1//" +
                         std::to_string(kScriptVbScript) + " ");
  EXPECT_EQ(manifest_.Scripts().count("RULES"), 1u);

  ASSERT_EQ(manifest_.ProfileFiles().size(), 1u);
  const ManifestFileEntry& profile = manifest_.ProfileFiles().at("P.DAT");
  EXPECT_EQ(S(profile.fileName) + "|" + S(profile.source) + "|" + S(profile.target) + "|" +
                S(profile.checksum) + "|" + S(profile.filters) + "|" + S(profile.spare),
            "p.dat|src\\prov|%DirContent%|0123456789abcdef0123456789abcdef|rules,vb|");
  // The level mark is read only under the data set.
  EXPECT_TRUE(profile.machineLevel && profile.userLevel);
  EXPECT_EQ(DataFiles(), "both.dat: mu m.dat: m- u.dat: -u ");
}

// Files without a name are skipped, the first entry of a key stays, only the first set of each
// kind counts, element names are exact, and a second load adds in key order.
TEST_F(ManifestLoadTest, SkipsNamelessFilesLaterDuplicatesAndOtherSets) {
  const std::string text =
      "<m><filters><script name=\"a\">first</script><script name=\"A\">second</script>"
      "</filters><Profile-Set>" +
      File("case.dat") + "</Profile-Set><profile-set>" + File("") + File("1.dat") +
      "</profile-set><profile-set>" + File("2.dat") + "</profile-set><data-set>" +
      File("x.dat", "one") + File("X.DAT", "two") + File("b.dat", "1") +
      "<file><property name=\"target\">t</property></file></data-set><x><data-set>" + File("deep") +
      "</data-set></x></m>";
  ASSERT_TRUE(manifest_.LoadManifest(WriteFile("m.xml", text)));
  ASSERT_EQ(manifest_.Scripts().size(), 1u);
  EXPECT_EQ(S(manifest_.Scripts().begin()->first) + S(manifest_.Scripts().begin()->second.text),
            "afirst");
  ASSERT_EQ(manifest_.ProfileFiles().size(), 1u);
  EXPECT_EQ(manifest_.ProfileFiles().count("1.dat"), 1u);
  EXPECT_EQ(DataFiles(), "b.dat:1 mu x.dat:one mu ");

  ASSERT_TRUE(manifest_.LoadManifest(
      WriteFile("2.xml", "<m><data-set>" + File("Z.dat", "2") + File("B.DAT", "2") +
                             File("a.dat", "2") + File("z.dat", "3") + "</data-set></m>")));
  EXPECT_EQ(DataFiles(), "a.dat:2 mu b.dat:1 mu x.dat:one mu Z.dat:2 mu ");

  // ReadProperty takes the last match, letter case ignored.
  TuXMLTree tree;
  ASSERT_TRUE(
      tree.LoadBuffer("<file><property name=\"Source\">a</property>"
                      "<property name=\"other\">b</property>"
                      "<property name=\"SOURCE\">c</property></file>",
                      true));
  HxStr value("keep");
  EXPECT_FALSE(ReadProperty(tree.GetRoot(), "target", value));
  EXPECT_EQ(S(value), "keep");
  EXPECT_TRUE(ReadProperty(tree.GetRoot(), "source", value));
  EXPECT_EQ(S(value), "c");
}

// Each failed load logs one level-8 line and leaves the tables as they were: the entries before
// the fault would be in the tables after a partial parse.
TEST_F(ManifestLoadTest, FailedLoadLogsOneLineAndKeepsTheTables) {
  const std::string early = "<m>\n<data-set>" + File("late.dat") + "</data-set>\n";
  const std::string limit = std::to_string(kManifestPieceLimit);
  // The text ("?": no file) and the line logged; for a text over the limit the line's start (the
  // column is where it went over).
  const std::pair<std::string, std::string> kBad[] = {
      {early + "<filters><script name=\"z\">t</script></filters>\n  <broken></m>\n",
       "Manifest XML Parser Error: mismatched tag\tLine: 4\tColumn: 12\n"},
      {"", "Manifest XML Parser Error: no element found\tLine: 1\tColumn: 0\n"},
      {"?", "XML Error: Unknown\n"},
      {early + "<filters><script name=\"" + std::string(kManifestPieceLimit, 'n') + "\"/>",
       "Manifest XML Parser Error: text or markup longer than " + limit +
           " bytes\tLine: 3\tColumn: 9\n"},
      {early + "<filters><script>" + std::string(kManifestPieceLimit + 1, 't'),
       "Manifest XML Parser Error: text or markup longer than " + limit + " bytes\tLine: 3\t"},
  };
  ASSERT_TRUE(manifest_.LoadManifest(WriteFile("good.xml", kFullManifest)));
  for (const auto& [text, line] : kBad) {
    const size_t logged = Log().size();
    EXPECT_FALSE(manifest_.LoadManifest(text == "?" ? "absent.xml" : WriteFile("bad.xml", text)));
    ASSERT_EQ(Log().size(), logged + 1);
    EXPECT_EQ(Log().back().level, kLogError);
    EXPECT_EQ(Log().back().text.substr(0, line.size()), line);
    EXPECT_EQ(manifest_.Scripts().size(), 4u);
    EXPECT_EQ(DataFiles(), "both.dat: mu m.dat: m- u.dat: -u ");
  }
  // At the limit a text is no fault.
  EXPECT_TRUE(manifest_.LoadManifest(WriteFile(
      "long.xml", "<m><data-set>" + File("long.dat", std::string(kManifestPieceLimit, 's')) +
                      "</data-set></m>")));
  EXPECT_EQ(S(manifest_.DataFiles().at("long.dat").source).size(), kManifestPieceLimit);
}

}  // namespace
