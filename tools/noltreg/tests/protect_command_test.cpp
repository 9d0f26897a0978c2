// Protected values from the command line: the secret comes from standard input only, lands
// enciphered in the scope of its hive, and query and export never show it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "commands.h"
#include "foundation/secrets/protected_value.h"
#include "scoped_sandbox.h"

namespace {

// Runs noltreg with `input` on standard input; the exit code, then standard output and error.
std::string Noltreg(const std::vector<std::string>& args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  const int code = noltreg::RunNoltreg(args, in, out, out);
  return std::to_string(code) + out.str();
}

TEST(NoltregProtectTest, TheSecretComesFromStandardInputAndIsNeverShown) {
  platform::testing::ScopedSandbox sandbox("alice");
  const std::string syntax = "1ERROR: Invalid syntax. Type \"noltreg -?\" for usage.\n";
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"-v", "Password", "--protect", "-d", "s3cret"},
       "1ERROR: --protect reads the data from standard input, never from the command line.\n"},
      {{"-v", "Password", "--protect", "s3cret"}, syntax},
      {{"--protect"}, syntax},
      {{"-v", "Password", "--protect", "-t", "REG_BINARY"}, syntax},
  };
  for (auto [args, expected] : refused) {
    args.insert(args.begin(), {"add", "HKCU\\Software\\Proxy"});
    EXPECT_EQ(Noltreg(args, "s3cret\n"), expected) << args.back();
  }
  EXPECT_EQ(Noltreg({"add", "HKCU\\Software\\Proxy", "-ve", "--protect"}, ""),
            "1ERROR: No secret on standard input.\n");

  for (const auto& [root, scope] :
       {std::pair{"HKEY_CURRENT_USER", secrets::SecretScope::kUser},
        std::pair{"HKEY_LOCAL_MACHINE", secrets::SecretScope::kMachine}}) {
    const std::string key = std::string(root) + "\\Software\\Proxy";
    EXPECT_EQ(Noltreg({"query", key}, "").substr(0, 1), "1") << "nothing was stored";
    EXPECT_EQ(Noltreg({"add", key, "-v", "Password", "--protect"}, "s3cret\r\n"),
              "0The operation completed successfully.\n");
    EXPECT_EQ(Noltreg({"query", key}, ""),
              "0\n" + key + "\n    Password    REG_SZ    (protected)\n");
    const std::string file = sandbox.Root() + "/proxy.reg";
    ASSERT_EQ(Noltreg({"export", key, file, "-y", "-utf8"}, "")[0], '0');
    std::ifstream exported(file);
    std::string line;
    while (std::getline(exported, line) && !line.starts_with("\"Password\"=\"")) {
    }
    if (line.ends_with('\r')) line.pop_back();
    const std::string stored = line.substr(12, line.size() - 13);  // as stored: the ciphertext
    std::string secret;
    EXPECT_EQ(secrets::Unprotect(scope, stored, secret), secrets::SecretStatus::kOk) << line;
    EXPECT_EQ(secret, "s3cret");
    // Replacing asks after the secret's line, unless -f.
    EXPECT_EQ(Noltreg({"add", key, "-v", "Password", "--protect"}, "other\nn\n"),
              "1Value Password exists, overwrite (Yes/No)? "
              "ERROR: The operation was canceled by the user.\n");
    EXPECT_EQ(Noltreg({"add", key, "-v", "Password", "--protect", "-f"}, "other\n")[0], '0');
  }
}

}  // namespace
