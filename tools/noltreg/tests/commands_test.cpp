// The commands as people run them: output layout, confirmations, errors, .reg files as Windows
// writes them, the round trip through an exported file, and files that must change nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "commands.h"
#include "foundation/strings/utf8.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;
using Bytes = std::vector<uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct Result {
  int code = 0;
  std::string out;
  std::string err;
};

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Text as Windows writes .reg files: UTF-16LE with a byte-order mark and CRLF line ends.
std::string AsWindowsWritesIt(std::string_view text) {
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string wide = "\xFF\xFE";
  utf8::AppendUtf16Le(wide, crlf);
  return wide;
}

class NoltregTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;

  std::string Path(const std::string& name) const { return sandbox_.Root() + "/" + name; }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }

  Result Run(std::vector<std::string> args, const std::string& answers = "") {
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    int code = noltreg::RunNoltreg(args, in, out, err);
    return Result{code, out.str(), err.str()};
  }

  // Exit code 1 and the one error line, or with an empty line exit code 0 and no error.
  void ExpectError(const std::vector<std::string>& args, const std::string& line) {
    Result result = Run(args);
    EXPECT_EQ(result.code, line.empty() ? 0 : 1) << ::testing::PrintToString(args);
    EXPECT_EQ(result.err, line.empty() ? "" : line + "\n") << ::testing::PrintToString(args);
  }
  void ExpectOk(const std::vector<std::string>& args) { ExpectError(args, ""); }

  static RegistryValue Read(const std::string& path, const std::string& name) {
    RegistryKey key;
    RegistryValue value;
    EXPECT_EQ(key.Open(kHkeyCurrentUser, path, kKeyRead), 0u) << path;
    EXPECT_EQ(key.QueryValue(name, value), 0u) << name;
    return value;
  }
};

TEST_F(NoltregTest, QueryPrintsTheKeyItsValuesAndItsSubkeys) {
  ExpectOk({"add", "HKCU\\Software\\Layout", "-ve", "-d", "top"});
  ExpectOk({"add", "HKCU\\Software\\Layout", "-v", "count", "-t", "REG_DWORD", "-d", "42"});
  ExpectOk({"add", "HKCU\\Software\\Layout\\Sub", "-v", "list", "-t", "REG_MULTI_SZ", "-d", "a\\0b"});
  ExpectOk({"add", "HKCU\\Software\\Layout\\Empty"});
  const std::string top = "\nHKEY_CURRENT_USER\\Software\\Layout\n    (Default)    REG_SZ    top\n"
                          "    count    REG_DWORD    0x2a\n";
  const std::string sub = "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n";
  const std::string list = "    list    REG_MULTI_SZ    a\\0b\n";
  for (const auto& [args, out] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"hkcu\\software\\layout"},
            top + "\nHKEY_CURRENT_USER\\Software\\Layout\\Empty\n" + sub.substr(1)},
           {{"HKEY_CURRENT_USER\\Software\\Layout", "-s"},
            top + "\nHKEY_CURRENT_USER\\Software\\Layout\\Empty\n" + sub + list},
           {{"HKCU\\Software\\Layout", "-v", "COUNT"},
            "\nHKEY_CURRENT_USER\\Software\\Layout\n    count    REG_DWORD    0x2a\n"},
           {{"HKCU\\Software\\Layout\\Sub", "-ve"}, sub + "    (Default)    REG_SZ    (value not set)\n"},
           {{"HKCU\\Software\\Layout", "-v", "list", "-s"}, sub + list}}) {
    std::vector<std::string> command = {"query"};
    command.insert(command.end(), args.begin(), args.end());
    EXPECT_EQ(Run(command).out, out) << args[0];
  }
  ExpectError({"query", "HKCU\\Software\\Layout", "-v", "absent"}, kNotFound);
  ExpectError({"query", "HKCU\\Software\\Nowhere"}, kNotFound);
}

TEST_F(NoltregTest, OverwritesAndDeletionsAskUnlessForced) {
  const std::string key = "HKCU\\Software\\Ask";
  const std::string shown = "\nHKEY_CURRENT_USER\\Software\\Ask\n    v    REG_SZ    ";
  ExpectOk({"add", key, "-v", "v", "-d", "old"});
  Result refused = Run({"add", key, "-v", "v", "-d", "new"}, "no\n");
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "Value v exists, overwrite (Yes/No)? ");
  EXPECT_EQ(Run({"query", key, "-v", "v"}).out, shown + "old\n");
  EXPECT_EQ(Run({"add", key, "-v", "v", "-d", "new"}, "yes\n").code, 0);
  ExpectOk({"add", key, "-v", "v", "-d", "newer", "-f"});
  EXPECT_EQ(Run({"query", key, "-v", "v"}).out, shown + "newer\n");

  ExpectOk({"add", key, "-v", "w", "-d", "1"});
  Result deleted = Run({"delete", key, "-v", "w"}, "y\n");
  EXPECT_EQ(deleted.out, "Delete the registry value w (Yes/No)? The operation completed successfully.\n");
  ExpectOk({"add", key, "-v", "x", "-d", "1"});
  ExpectOk({"add", key + "\\Sub"});
  ExpectOk({"delete", key, "-va", "-f"});
  EXPECT_EQ(Run({"query", key}).out,
            "\nHKEY_CURRENT_USER\\Software\\Ask\n\nHKEY_CURRENT_USER\\Software\\Ask\\Sub\n");
  ExpectError({"delete", key, "-v", "gone", "-f"}, kNotFound);
  ExpectError({"delete", key}, "ERROR: The operation was canceled by the user.");  // no answer
}

TEST_F(NoltregTest, BadCommandLinesGiveOneErrorLine) {
  const std::string syntax = "ERROR: Invalid syntax. Type \"noltreg -?\" for usage.";
  for (const auto& [args, line] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, syntax}, {{"list", "HKCU"}, syntax}, {{"query"}, syntax},
           {{"query", "HKCU", "-x"}, syntax}, {{"query", "HKCU", "-v"}, syntax},
           {{"query", "HKCU", "-f"}, syntax}, {{"query", "HKCU", "-utf8"}, syntax},
           {{"delete", "HKCU\\X", "-v", "a", "-va"}, syntax}, {{"export", "HKCU\\X"}, syntax},
           {{"add", "HKCU\\X", "-v", "a", "-ve"}, syntax},
           {{"query", "HKXX\\Software"}, "ERROR: Invalid key name."},
           {{"add", "HKCU\\X", "-v", "a", "-t", "REG_LINK"}, "ERROR: Unknown type REG_LINK."},
           {{"add", "HKCU\\X", "-v", "a", "-t", "REG_DWORD", "-d", "x"},
            "ERROR: The data is not valid for REG_DWORD."},
           {{"delete", "HKLM", "-f"}, "ERROR: A root key cannot be deleted."},
           {{"delete", "HKCU\\", "-f"}, "ERROR: A root key cannot be deleted."},
           {{"import", Path("absent.reg")}, "ERROR: Cannot open " + Path("absent.reg") + "."},
       }) {
    ExpectError(args, line);
  }
  Result help = Run({"-?"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("noltreg query KEY"), std::string::npos);
}

// The built tool runs on its own (its library found beside it) and exits 0 or 1.
TEST_F(NoltregTest, TheToolExitsWithItsCode) {
  auto run = [&](const std::string& args) {
    std::string command = std::string(NOLTREG_PATH) + " " + args + " >" + Path("out") + " 2>" +
                          Path("err") + "; echo $? >" + Path("rc");
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Result{std::stoi(ReadFile(Path("rc"))), ReadFile(Path("out")), ReadFile(Path("err"))};
  };
  Result added = run("add 'HKLM\\Software\\Tool' -v n -t REG_DWORD -d 7");
  EXPECT_EQ(added.code, 0);
  EXPECT_EQ(added.out, "The operation completed successfully.\n");
  Result missing = run("query 'HKLM\\Software\\Missing'");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out + missing.err, std::string(kNotFound) + "\n");
}

TEST_F(NoltregTest, ValuesComeBackByteForByteThroughAnExportedFileInEitherEncoding) {
  const std::string path = "Software\\RoundTrip";
  const std::vector<RegistryValue> values = {
      {"", kRegSz, RegistryStringData("top \"quoted\" \\ back")},
      {"unterminated", kRegSz, Of("abc")},
      {"two lines", kRegSz, RegistryStringData("a\r\nb")},
      {"not utf-8", kRegSz, Of(std::string_view("caf\xe9\0", 5))},
      {"dword", kRegDword, RegistryDwordData(0xfffffffe)},
      {"short", kRegDword, {7}},
      {"qword", kRegQword, RegistryQwordData(0x0123456789abcdefULL)},
      {"long", kRegBinary, Bytes(300, 0x5a)},
      {"expand", kRegExpandSz, RegistryStringData("%TEMP%\\\xe2\x82\xac \xf0\x9f\x98\x80 \xff\xc0\x80")},
      {"multi", kRegMultiSz, Of(std::string_view("a\0b\xc3\xbc\0\0", 7))},
      {"odd multi", kRegMultiSz, Of("abc")},
      {"none", kRegNone, {}},
      {"odd type", 0x1234, {1, 2, 3}},
  };
  {
    RegistryKey key;
    ASSERT_EQ(key.Create(kHkeyCurrentUser, path, kKeyAllAccess), 0u);
    for (const RegistryValue& v : values) {
      ASSERT_EQ(key.SetValue(v.name, v.type, v.data.data(), static_cast<uint32_t>(v.data.size())), 0u);
    }
  }
  for (const auto& [option, header] :
       {std::pair<const char*, std::string>{"", AsWindowsWritesIt(kHeader)}, {"-utf8", kHeader}}) {
    std::vector<std::string> exportArgs = {"export", "HKCU\\" + path, Path("tree.reg")};
    if (*option != '\0') exportArgs.push_back(option);
    ExpectOk(exportArgs);
    EXPECT_EQ(ReadFile(Path("tree.reg")).substr(0, header.size()), header) << option;
    ExpectOk({"delete", "HKCU\\" + path, "-f"});
    ExpectOk({"import", Path("tree.reg")});
    for (const RegistryValue& v : values) {
      RegistryValue read = Read(path, v.name);
      EXPECT_EQ(read.type, v.type) << v.name;
      EXPECT_EQ(read.data, v.data) << v.name << " " << option;
    }
  }
}

// As regedit and "reg export" write it: default value, quotes and backslashes, text beyond ASCII,
// dword, hex(b), hex(2), hex(7), hex with continued lines, keys with spaces.
constexpr const char* kRegeditExport = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\My App]
@="default \"quoted\" C:\\dir\\"
"Grüße"="über"
"Count"=dword:0000002a
"Big"=hex(b):ef,cd,ab,89,67,45,23,01
"ExpandString"=hex(2):25,00,55,00,53,00,45,00,52,00,50,00,52,00,4f,00,46,00,49,\
  00,4c,00,45,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00
"Blob"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19,1a,1b,1c,1d
"Empty"=""

[HKEY_CURRENT_USER\Software\My App\Sub Key]
"x"="y"

)";

TEST_F(NoltregTest, ReadsAndWritesRegFilesAsWindowsDoes) {
  ExpectOk({"add", "HKCU\\Software\\Old Stuff\\Inner"});
  ExpectOk({"add", "HKCU\\Software\\My App", "-v", "Gone", "-d", "1"});
  // The same file with a comment, a key deletion and a value deletion.
  std::string text = kRegeditExport;
  text.insert(text.find('\n') + 1, "\n; by hand\n[-HKEY_CURRENT_USER\\Software\\Old Stuff]\n");
  text.insert(text.find("My App]\n") + 8, "\"Gone\"=-\n");
  ExpectOk({"import", Write("regedit.reg", AsWindowsWritesIt(text))});

  Bytes blob;
  for (uint8_t i = 0; i < 30; ++i) blob.push_back(i);
  for (const RegistryValue& expected : std::vector<RegistryValue>{
           {"", kRegSz, RegistryStringData("default \"quoted\" C:\\dir\\")},
           {"Grüße", kRegSz, RegistryStringData("über")},
           {"Count", kRegDword, RegistryDwordData(42)},
           {"Big", kRegQword, RegistryQwordData(0x0123456789abcdefULL)},
           {"ExpandString", kRegExpandSz, RegistryStringData("%USERPROFILE%")},
           {"Multi", kRegMultiSz, Of(std::string_view("a\0bc\0\0", 6))},
           {"Blob", kRegBinary, blob},
           {"Empty", kRegSz, RegistryStringData("")}}) {
    RegistryValue read = Read("Software\\My App", expected.name);
    EXPECT_EQ(read.type, expected.type) << expected.name;
    EXPECT_EQ(read.data, expected.data) << expected.name;
  }
  ExpectError({"query", "HKCU\\Software\\Old Stuff"}, kNotFound);
  ExpectError({"query", "HKCU\\Software\\My App", "-v", "Gone"}, kNotFound);
  ExpectOk({"export", "HKCU\\Software\\My App", Path("again.reg")});
  EXPECT_EQ(ReadFile(Path("again.reg")), AsWindowsWritesIt(kRegeditExport));

  // In the older format texts in hex form are single-byte.
  ExpectOk({"import", Write("old.reg", "REGEDIT4\n\n[HKCU\\Software\\Old]\n\"e\"=hex(2):25,61,25,00\n")});
  EXPECT_EQ(Read("Software\\Old", "e").data, RegistryStringData("%a%"));
}

TEST_F(NoltregTest, ImportAppliesAllOfAFileOrNothing) {
  std::string deep = "HKCU";
  for (int level = 0; level < 40000; ++level) deep += "\\a";
  // Lines 1 to 4 are good.
  const std::string good = std::string(kHeader) + "\n[HKCU\\Software\\Partial]\n\"a\"=\"1\"\n";
  const std::string line5 = "ERROR: line 5: ";
  for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
           {good + "\"b\"=hex:1g\n", line5 + "the data cannot be read."},
           {good + "\"b\"=dword:123\n", line5 + "the data cannot be read."},
           {good + "\"c\"\n", line5 + "not a value line."},
           {good + "[HKCU\\X\n", line5 + "a key line without its closing bracket."},
           {good + "[HKXX\\X]\n", line5 + "an unknown root key."},
           {good + "[-HKEY_CURRENT_USER]\n", line5 + "A root key cannot be deleted."},
           {good + "[-HKCU\\]\n", line5 + "A root key cannot be deleted."},
           {good + "[HKCU\\" + std::string(256, 'k') + "]\n", line5 + "The parameter is incorrect."},
           {good + "[" + deep + "]\n",
            line5 + "The configuration registry key is invalid (keys nest at most 512 levels deep)."},
           {std::string(kHeader) + "\"a\"=\"1\"\n", "ERROR: line 2: a value before any key."},
           {"REGEDIT5\n", "ERROR: line 1: not a registry file."},
           {"", "ERROR: not a registry file."}}) {
    ExpectError({"import", Write("bad.reg", text)}, error);
    ExpectError({"query", "HKCU\\Software\\Partial"}, kNotFound);
  }
  // The user's hive is whole, and nothing in it is too deep to list or export.
  EXPECT_NE(Run({"query", "HKCU", "-s"}).out.find("Shell Folders"), std::string::npos);
  ExpectOk({"export", "HKCU", Path("all.reg")});
}

}  // namespace
