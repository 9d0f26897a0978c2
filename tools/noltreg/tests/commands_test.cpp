// The commands as people run them: output layout, confirmations, errors, and the round trip
// add, query, export, delete, import, query.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "commands.h"
#include "scoped_sandbox.h"

namespace {

struct Result {
  int code = 0;
  std::string out;
  std::string err;
};

class NoltregCommandTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_;

  Result Run(std::vector<std::string> args, const std::string& answers = "") {
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    Result result;
    result.code = noltreg::RunNoltreg(args, in, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  void ExpectOk(const std::vector<std::string>& args) {
    Result result = Run(args);
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
  }

  void ExpectError(const std::vector<std::string>& args, const std::string& line) {
    Result result = Run(args);
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, line + "\n");
  }
};

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";

TEST_F(NoltregCommandTest, QueryPrintsTheKeyItsValuesAndItsSubkeys) {
  ExpectOk({"add", "HKCU\\Software\\Layout", "-ve", "-d", "top"});
  ExpectOk({"add", "HKCU\\Software\\Layout", "-v", "count", "-t", "REG_DWORD", "-d", "42"});
  ExpectOk({"add", "HKCU\\Software\\Layout\\Sub", "-v", "list", "-t", "REG_MULTI_SZ", "-d", "a\\0b"});
  ExpectOk({"add", "HKCU\\Software\\Layout\\Empty"});

  Result plain = Run({"query", "hkcu\\software\\layout"});
  EXPECT_EQ(plain.out,
            "\nHKEY_CURRENT_USER\\Software\\Layout\n"
            "    (Default)    REG_SZ    top\n"
            "    count    REG_DWORD    0x2a\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\Layout\\Empty\n"
            "HKEY_CURRENT_USER\\Software\\Layout\\Sub\n");
  Result recursive = Run({"query", "HKEY_CURRENT_USER\\Software\\Layout", "-s"});
  EXPECT_EQ(recursive.out,
            "\nHKEY_CURRENT_USER\\Software\\Layout\n"
            "    (Default)    REG_SZ    top\n"
            "    count    REG_DWORD    0x2a\n"
            "\nHKEY_CURRENT_USER\\Software\\Layout\\Empty\n"
            "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n"
            "    list    REG_MULTI_SZ    a\\0b\n");
  Result one = Run({"query", "HKCU\\Software\\Layout", "-v", "COUNT"});
  EXPECT_EQ(one.out, "\nHKEY_CURRENT_USER\\Software\\Layout\n    count    REG_DWORD    0x2a\n");
  Result unset = Run({"query", "HKCU\\Software\\Layout\\Sub", "-ve"});
  EXPECT_EQ(unset.out, "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n    (Default)    REG_SZ    (value not set)\n");
  Result search = Run({"query", "HKCU\\Software\\Layout", "-v", "list", "-s"});
  EXPECT_EQ(search.out, "\nHKEY_CURRENT_USER\\Software\\Layout\\Sub\n    list    REG_MULTI_SZ    a\\0b\n");

  ExpectError({"query", "HKCU\\Software\\Layout", "-v", "absent"}, kNotFound);
  ExpectError({"query", "HKCU\\Software\\Nowhere"}, kNotFound);
}

TEST_F(NoltregCommandTest, RoundTripThroughAnExportedFile) {
  const std::string key = "HKCU\\Software\\RoundTrip";
  ExpectOk({"add", key, "-ve", "-d", "default text"});
  ExpectOk({"add", key, "-v", "sz", "-d", "C:\\path \"quoted\""});
  ExpectOk({"add", key, "-v", "expand", "-t", "REG_EXPAND_SZ", "-d", "%TEMP%\\x"});
  ExpectOk({"add", key, "-v", "dword", "-t", "REG_DWORD", "-d", "0xDEADBEEF"});
  ExpectOk({"add", key, "-v", "qword", "-t", "REG_QWORD", "-d", "18446744073709551615"});
  ExpectOk({"add", key, "-v", "binary", "-t", "REG_BINARY", "-d", std::string(200, 'a')});
  ExpectOk({"add", key, "-v", "multi", "-t", "REG_MULTI_SZ", "-d", "one\\0two\\0three"});
  ExpectOk({"add", key, "-v", "none", "-t", "REG_NONE"});
  ExpectOk({"add", key + "\\Child\\Grandchild", "-v", "deep", "-d", "x"});
  Result before = Run({"query", key, "-s"});
  ASSERT_EQ(before.code, 0);

  std::string file = sandbox_.Root() + "/tree.reg";
  ExpectOk({"export", key, file});
  ExpectError({"delete", key}, "ERROR: The operation was canceled by the user.");  // no answer
  ExpectOk({"delete", key, "-f"});
  ExpectError({"query", key}, kNotFound);
  ExpectOk({"import", file});
  Result after = Run({"query", key, "-s"});
  EXPECT_EQ(after.code, 0);
  EXPECT_EQ(after.out, before.out);

  std::ifstream exported(file);
  std::string header;
  std::getline(exported, header);
  EXPECT_EQ(header, "Windows Registry Editor Version 5.00");
}

TEST_F(NoltregCommandTest, OverwritesAndDeletionsAskUnlessForced) {
  const std::string key = "HKCU\\Software\\Ask";
  ExpectOk({"add", key, "-v", "v", "-d", "old"});
  Result refused = Run({"add", key, "-v", "v", "-d", "new"}, "no\n");
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "Value v exists, overwrite (Yes/No)? ");
  EXPECT_EQ(Run({"query", key, "-v", "v"}).out, "\nHKEY_CURRENT_USER\\Software\\Ask\n    v    REG_SZ    old\n");
  EXPECT_EQ(Run({"add", key, "-v", "v", "-d", "new"}, "yes\n").code, 0);
  ExpectOk({"add", key, "-v", "v", "-d", "newer", "-f"});
  EXPECT_EQ(Run({"query", key, "-v", "v"}).out, "\nHKEY_CURRENT_USER\\Software\\Ask\n    v    REG_SZ    newer\n");

  ExpectOk({"add", key, "-v", "w", "-d", "1"});
  Result deleted = Run({"delete", key, "-v", "w"}, "y\n");
  EXPECT_EQ(deleted.code, 0);
  EXPECT_EQ(deleted.out, "Delete the registry value w (Yes/No)? The operation completed successfully.\n");
  ExpectOk({"add", key, "-v", "x", "-d", "1"});
  ExpectOk({"add", key + "\\Sub"});
  ExpectOk({"delete", key, "-va", "-f"});
  EXPECT_EQ(Run({"query", key}).out,
            "\nHKEY_CURRENT_USER\\Software\\Ask\n\nHKEY_CURRENT_USER\\Software\\Ask\\Sub\n");
  ExpectError({"delete", key, "-v", "gone", "-f"}, kNotFound);
}

TEST_F(NoltregCommandTest, BadCommandLinesGiveOneErrorLine) {
  const std::string syntax = "ERROR: Invalid syntax. Type \"noltreg -?\" for usage.";
  ExpectError({}, syntax);
  ExpectError({"list", "HKCU"}, syntax);
  ExpectError({"query"}, syntax);
  ExpectError({"query", "HKCU", "-x"}, syntax);
  ExpectError({"query", "HKCU", "-v"}, syntax);
  ExpectError({"query", "HKCU", "-f"}, syntax);
  ExpectError({"delete", "HKCU\\X", "-v", "a", "-va"}, syntax);
  ExpectError({"add", "HKCU\\X", "-v", "a", "-ve"}, syntax);
  ExpectError({"export", "HKCU\\X"}, syntax);
  ExpectError({"query", "HKXX\\Software"}, "ERROR: Invalid key name.");
  ExpectError({"add", "HKCU\\X", "-v", "a", "-t", "REG_LINK"}, "ERROR: Unknown type REG_LINK.");
  ExpectError({"add", "HKCU\\X", "-v", "a", "-t", "REG_DWORD", "-d", "x"},
              "ERROR: The data is not valid for REG_DWORD.");
  ExpectError({"delete", "HKLM", "-f"}, "ERROR: A root key cannot be deleted.");
  ExpectError({"import", sandbox_.Root() + "/absent.reg"},
              "ERROR: Cannot open " + sandbox_.Root() + "/absent.reg.");
  Result help = Run({"-?"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("noltreg query KEY"), std::string::npos);
}

// The built tool runs on its own (its library found beside it) and exits 0 or 1.
TEST_F(NoltregCommandTest, TheToolExitsWithItsCode) {
  std::string root = sandbox_.Root();
  auto run = [&](const std::string& args) {
    std::string command = std::string(NOLTREG_PATH) + " " + args + " >" + root + "/out 2>" +
                          root + "/err; echo $? >" + root + "/rc";
    EXPECT_EQ(std::system(command.c_str()), 0);
    auto read = [](const std::string& path) {
      std::ifstream file(path);
      std::stringstream text;
      text << file.rdbuf();
      return text.str();
    };
    return Result{std::stoi(read(root + "/rc")), read(root + "/out"), read(root + "/err")};
  };
  Result added = run("add 'HKLM\\Software\\Tool' -v n -t REG_DWORD -d 7");
  EXPECT_EQ(added.code, 0);
  EXPECT_EQ(added.out, "The operation completed successfully.\n");
  Result queried = run("query 'HKLM\\Software\\Tool'");
  EXPECT_EQ(queried.out, "\nHKEY_LOCAL_MACHINE\\Software\\Tool\n    n    REG_DWORD    0x7\n");
  Result missing = run("query 'HKLM\\Software\\Missing'");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, std::string(kNotFound) + "\n");
}

}  // namespace
