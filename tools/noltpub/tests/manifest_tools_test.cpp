// `noltpub manifest check` and `noltpub rules eval`: the tables as the agent loads them, the
// parser's error line, and the exit codes of true, false and failing rule scripts.
#include "foundation/log/host_logger.h"
#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

// Each table in key order (letter case ignored), fields escaped, levels and languages named.
TEST_F(NoltpubTest, ManifestCheckPrintsTheThreeTablesInKeyOrder) {
  WriteBytes(Path("m.xml"),
             "<manifest><filters>"
             "<script name=\"web\" group=\"g1\" language=\"JavaScript\">  one\n\ttwo  </script>"
             "<script name=\"Apps\">and|%A::?::B%||=|1</script>"
             "<script name=\"vb\" language=\"vbscript\">x</script></filters><profile-set>"
             "<file><property name=\"filename\">p.xml</property>"
             "<property name=\"source\">s/p.xml</property></file></profile-set><data-set>"
             "<file><property name=\"filename\">b.zip</property><property name=\"filters\">web"
             "</property><property name=\"machinelevel\">0</property></file>"
             "<file><property name=\"filename\">a.zip</property><property name=\"target\">t\\a"
             "</property><property name=\"fchecksum\">ff</property>"
             "<property name=\"machinelevel\">1</property></file></data-set></manifest>");
  const NoltpubResult result = Run({"manifest", "check", Path("m.xml")});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out,
            "scripts\t3\tname\tgroup\tlanguage\ttext\n"
            "Apps\t\trule\tand|%A::?::B%||=|1\n"
            "vb\t\tvbscript\tx\n"
            "web\tg1\tjscript\tone\\n\\ttwo\n"
            "profile-set\t1\tfilename\tsource\ttarget\tfchecksum\tfilters\tlevel\n"
            "p.xml\ts/p.xml\t\t\t\tboth\n"
            "data-set\t2\tfilename\tsource\ttarget\tfchecksum\tfilters\tlevel\n"
            "a.zip\t\tt\\\\a\tff\t\tmachine\n"
            "b.zip\t\t\t\tweb\tuser\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(NoltpubTest, ManifestCheckFailsWithTheParserErrorLine) {
  WriteBytes(Path("bad.xml"), "<manifest>\n<filters>\n</manifest>\n");
  NoltpubResult result = Run({"manifest", "check", Path("bad.xml")});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("Manifest XML Parser Error: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("\tLine: 3\tColumn: "), std::string::npos) << result.err;

  result = Run({"manifest", "check", Path("absent.xml")});
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err, "XML Error: Unknown\n");
}

constexpr const char* kTemplate =
    "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"Url\">http://a/</PROPERTY>"
    "<PROPERTY NAME=\"Size\">10</PROPERTY></CLASS>\n";

class RulesEvalTest : public NoltpubTest {
 protected:
  NoltpubResult Eval(const std::string& script) {
    WriteBytes(Path("t.xml"), kTemplate);
    WriteBytes(Path("s.rule"), script);
    return Run({"rules", "eval", "--template", Path("t.xml"), Path("s.rule")});
  }
};

// Exit 0 for a true script, 1 for a false one, 2 for a script error; each evaluated condition
// is logged.
TEST_F(RulesEvalTest, ExitCodeIsTheVerdictAndEachConditionIsLogged) {
  const struct {
    const char* script;
    int code;
    const char* out;
  } kScripts[] = {
      {"and|%Site::a::Url%||=|HTTP://A/\nand|%Site::?::Size%||>|9\n", 0,
       "http://a/ = HTTP://A/ = TRUE\n10 > 9 = TRUE\n"},
      // Windows line ends: the CR is no part of the value; a lone CR is.
      {"and|%Site::a::Url%||=|http://a/\r\nand|%Site::?::Size%||=|10\r\n", 0,
       "http://a/ = http://a/ = TRUE\n10 = 10 = TRUE\n"},
      {"or|%Site::a::Size%||=|10\r", 1, "10 = 10\r = FALSE\n"},
      // The false "and" line ends the evaluation: the "or" line is not logged.
      {"and|%Site::a::Size%||<|9\nor|%Site::a::Url%||**|a\n", 1, "10 < 9 = FALSE\n"},
      {"or|%Site::zz::Url%||=|x\n", 1, "%Site::zz::Url% = x = FALSE\n"},  // unresolved: false
      {"and|%Site::a::Url%||=|http://a/\nand|no macro||=|x\n", 2, "http://a/ = http://a/ = TRUE\n"},
  };
  for (const auto& [script, code, out] : kScripts) {
    const NoltpubResult result = Eval(script);
    EXPECT_EQ(result.code, code) << script << result.err;
    EXPECT_EQ(result.out, out) << script;
  }
  EXPECT_EQ(Eval("and|no macro||=|x\n").err.rfind("Failed to expand SI macro: no macro\n", 0), 0u);
  const NoltpubResult absent = Run({"rules", "eval", Path("absent.rule")});
  EXPECT_EQ(absent.code, 2);
  EXPECT_NE(absent.err.find("absent.rule"), std::string::npos);
  // The command's streams are gone; a later log line must not reach them.
  EXPECT_EQ(CurrentHostLogger(), nullptr);
  HostLog(kLogError, "after %s\n", "the command");

  // The built-in template collects the environment.
  WriteBytes(Path("s.rule"), "and|%Environment::NOLT_ROOT::Value%||=|" + sandbox_.Root() + "\n");
  EXPECT_EQ(Run({"rules", "eval", Path("s.rule")}).code, 0);
}

}  // namespace
