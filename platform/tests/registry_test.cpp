// The registry: types, names, access masks, enumeration, depth, deletion, transactions and the
// classes view in one process; hives shared between processes (concurrent writers, the system
// account beside a user, who may write the machine hive); the paths table and the shell-folder
// values a new hive starts with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

using namespace platform;
using Names = std::vector<std::string>;
using platform::testing::SetEnvironment;

class RegistryTest : public ::testing::Test {
 protected:
  platform::testing::ScopedSandbox sandbox_{"alice"};
  std::string root_ = sandbox_.Root();
};

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

RegistryKey OpenKey(uint32_t root, std::string_view path, uint32_t access = kKeyAllAccess,
                    bool create = true) {
  RegistryKey key;
  EXPECT_EQ(create ? key.Create(root, path, access) : key.Open(root, path, access), kErrorSuccess)
      << path;
  return key;
}

// The names of the key's subkeys, or of its values, by enumeration.
Names Listed(const RegistryKey& key, bool values) {
  Names names;
  RegistryValue value;
  uint32_t error;
  for (uint32_t i = 0; (error = values ? key.EnumValue(i, value) : key.EnumKey(i, value.name)) ==
                      kErrorSuccess;
       ++i) {
    names.push_back(value.name);
  }
  EXPECT_EQ(error, kErrorNoMoreItems);
  return names;
}
Names SubKeys(const RegistryKey& key) { return Listed(key, false); }
Names ValueNames(const RegistryKey& key) { return Listed(key, true); }

// The value's bytes, or "<missing>".
std::string Data(const RegistryKey& key, std::string_view name) {
  RegistryValue value;
  if (key.QueryValue(name, value) != kErrorSuccess) return "<missing>";
  return std::string(value.data.begin(), value.data.end());
}

std::string Data(uint32_t root, std::string_view path, std::string_view name) {
  RegistryKey key;
  return key.Open(root, path, kKeyRead) == kErrorSuccess ? Data(key, name) : "<no key>";
}

// Runs body in a forked child and returns its exit status (body's result), or -1.
int RunInChild(const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0 when every call gave what was expected, else the number of the first that did not.
int FirstMismatch(const std::vector<std::pair<uint32_t, uint32_t>>& actualAndExpected) {
  for (size_t i = 0; i < actualAndExpected.size(); ++i) {
    if (actualAndExpected[i].first != actualAndExpected[i].second) return static_cast<int>(i) + 1;
  }
  return 0;
}

TEST_F(RegistryTest, EveryTypeKeepsItsTypeAndBytes) {
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Types");
  const std::vector<RegistryValue> written = {
      {"sz unterminated", kRegSz, Bytes("abc")}, {"binary", kRegBinary, {0x00, 0xff, 0x7f}},
      {"dword", kRegDword, RegistryDwordData(0xdeadbeef)}, {"short dword", kRegDword, {1, 2, 3}},
      {"multi", kRegMultiSz, Bytes(std::string_view("a\0bc\0\0", 6))}, {"none", kRegNone, {}},
      {"qword", kRegQword, RegistryQwordData(0x0123456789abcdefULL)}, {"odd type", 0x1234, {9}}};
  for (const RegistryValue& value : written) {
    ASSERT_EQ(key.SetValue(value.name, value.type, value.data.data(),
                           static_cast<uint32_t>(value.data.size())),
              kErrorSuccess);
  }
  RegistryKey reopened = OpenKey(kHkeyCurrentUser, "Software\\Types", kKeyRead, false);
  for (const RegistryValue& expected : written) {
    RegistryValue read;
    ASSERT_EQ(reopened.QueryValue(expected.name, read), kErrorSuccess) << expected.name;
    EXPECT_EQ(read.type, expected.type) << expected.name;
    EXPECT_EQ(read.data, expected.data) << expected.name;
  }
}

TEST_F(RegistryTest, BufferReadsReportTheSizeAndMoreData) {
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Buffers");
  ASSERT_EQ(key.SetString("text", "hello"), kErrorSuccess);
  uint32_t type = 0;
  uint32_t sizes[4] = {0, 3, 8, 2};
  char buffer[8] = {};
  std::string name;
  EXPECT_EQ(0, FirstMismatch({{key.QueryValue("text", &type, nullptr, &sizes[0]), kErrorSuccess},
                              {key.QueryValue("text", nullptr, buffer, &sizes[1]), kErrorMoreData},
                              {static_cast<uint32_t>(buffer[0]), 0},  // nothing copied
                              {key.QueryValue("text", nullptr, buffer, &sizes[2]), kErrorSuccess},
                              {key.QueryValue("text", nullptr, buffer, nullptr), kErrorInvalidParameter},
                              {key.QueryValue("absent", nullptr, nullptr, &type), kErrorFileNotFound},
                              {key.EnumValue(0, name, &type, buffer, &sizes[3]), kErrorMoreData}}));
  EXPECT_EQ(std::vector<uint32_t>(sizes, sizes + 4), std::vector<uint32_t>({6, 6, 6, 6}));
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(name, "text");
  EXPECT_EQ(type, kRegSz);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstCase) {
  RegistryKey created = OpenKey(kHkeyLocalMachine, "Software\\MixedCase\\Inner");
  ASSERT_EQ(created.SetString("ValueName", "one"), kErrorSuccess);
  ASSERT_EQ(created.SetString("VALUENAME", "two"), kErrorSuccess);
  RegistryKey opened = OpenKey(kHkeyLocalMachine, "SOFTWARE\\mixedcase\\INNER\\", kKeyRead, false);
  EXPECT_EQ(opened.Path(), "HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Inner");
  EXPECT_EQ(ValueNames(opened), Names{"ValueName"});
  EXPECT_EQ(Data(opened, "valuename"), std::string("two", 4));
  bool made = true;
  RegistryKey again;
  ASSERT_EQ(again.Create(kHkeyLocalMachine, "software\\MIXEDCASE", kKeyRead, &made), kErrorSuccess);
  EXPECT_FALSE(made);
  EXPECT_EQ(SubKeys(again), Names{"Inner"});
}

TEST_F(RegistryTest, BadPathsClosedKeysAndWhatTheAccessMaskDoesNotGrantAreRefused) {
  RegistryKey full = OpenKey(kHkeyCurrentUser, "Software\\Masks");
  ASSERT_EQ(full.SetDword("n", 7), kErrorSuccess);
  OpenKey(kHkeyCurrentUser, "Software\\Masks\\Child");
  RegistryKey closed;
  RegistryKey queryOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeyQueryValue, false);
  RegistryKey setOnly = OpenKey(kHkeyCurrentUser, "Software\\Masks", kKeySetValue, false);
  RegistryKey key;
  RegistryValue value;
  std::string name;
  EXPECT_EQ(0, FirstMismatch({
                   {key.Open(kHkeyLocalMachine, "\\Software", kKeyRead), kErrorBadPathname},
                   {key.Create(kHkeyLocalMachine, std::string(256, 'k'), kKeyRead),
                    kErrorInvalidParameter},
                   {key.Open(kHkeyLocalMachine, "Software\\Nowhere", kKeyRead), kErrorFileNotFound},
                   {key.Open(0x80000003u, "", kKeyRead), kErrorInvalidHandle},
                   {closed.QueryValue("x", value), kErrorInvalidHandle},
                   {closed.SetDword("x", 1), kErrorInvalidHandle},
                   {queryOnly.QueryValue("n", value), kErrorSuccess},
                   {queryOnly.SetDword("n", 8), kErrorAccessDenied},
                   {queryOnly.DeleteValue("n"), kErrorAccessDenied},
                   {queryOnly.EnumKey(0, name), kErrorAccessDenied},
                   {key.Create(queryOnly, "New", kKeyRead), kErrorAccessDenied},
                   {queryOnly.DeleteTree("Child"), kErrorAccessDenied},
                   {setOnly.QueryValue("n", value), kErrorAccessDenied},
                   {setOnly.SetDword("n", 9), kErrorSuccess},
                   {OpenKey(kHkeyCurrentUser, "Software", kGenericRead, false).Access(), kKeyRead},
                   {OpenKey(kHkeyCurrentUser, "Software", kMaximumAllowed, false).Access(),
                    kKeyAllAccess}}));
  EXPECT_EQ(Data(full, "n"), std::string("\x09\0\0\0", 4));
}

TEST_F(RegistryTest, EnumerationFollowsEveryChange) {
  RegistryKey key = OpenKey(kHkeyCurrentUser, "Software\\Order");
  RegistryKey other = OpenKey(kHkeyCurrentUser, "Software\\Order", kKeyRead, false);
  EXPECT_EQ(SubKeys(key), Names{});
  for (const char* name : {"b", "_x", "C", "a"}) OpenKey(kHkeyCurrentUser, std::string("Software\\Order\\") + name);
  // By upper-case name, as Windows lists them: '_' sorts after the letters.
  EXPECT_EQ(SubKeys(key), (Names{"a", "b", "C", "_x"}));
  for (const char* name : {"z", "a", "m"}) ASSERT_EQ(key.SetDword(name, 1), kErrorSuccess);
  EXPECT_EQ(ValueNames(other), (Names{"z", "a", "m"}));
  ASSERT_EQ(key.SetDword("Z", 2), kErrorSuccess);  // rewriting keeps the place
  ASSERT_EQ(key.DeleteValue("A"), kErrorSuccess);
  ASSERT_EQ(key.SetString("a", "three"), kErrorSuccess);  // a new value goes last
  // What one handle listed before does not hide the changes made through another.
  EXPECT_EQ(ValueNames(other), (Names{"z", "m", "a"}));
  RegistryValue value;
  ASSERT_EQ(other.EnumValue(0, value), kErrorSuccess);
  EXPECT_EQ(value.data, RegistryDwordData(2));
  ASSERT_EQ(key.DeleteKey("b"), kErrorSuccess);
  RegistryKeyInfo info;
  ASSERT_EQ(other.QueryInfo(info), kErrorSuccess);
  EXPECT_EQ(std::vector<uint32_t>({info.subKeys, info.maxSubKeyLength, info.values,
                                   info.maxValueNameLength, info.maxValueLength}),
            std::vector<uint32_t>({3, 2, 3, 1, 6}));
}

TEST_F(RegistryTest, DeletingKeysWithSubkeysNeedsATreeDelete) {
  RegistryKey software = OpenKey(kHkeyCurrentUser, "Software");
  RegistryKey inner = OpenKey(kHkeyCurrentUser, "Software\\Doomed\\Inner");
  ASSERT_EQ(inner.SetDword("v", 1), kErrorSuccess);
  EXPECT_EQ(software.DeleteKey("Doomed"), kErrorAccessDenied);
  EXPECT_EQ(Data(kHkeyCurrentUser, "Software\\Doomed\\Inner", "v").size(), 4u);
  EXPECT_EQ(software.DeleteKey("Absent"), kErrorFileNotFound);
  EXPECT_EQ(software.DeleteTree("doomed"), kErrorSuccess);
  EXPECT_EQ(Data(kHkeyCurrentUser, "Software\\Doomed", ""), "<no key>");
  // A handle to a deleted key says so.
  RegistryValue value;
  EXPECT_EQ(inner.QueryValue("v", value), kErrorKeyDeleted);
  EXPECT_EQ(inner.SetDword("v", 2), kErrorKeyDeleted);
  EXPECT_EQ(inner.EnumValue(0, value), kErrorKeyDeleted);
  // A key without subkeys goes with a plain delete; values go with it.
  ASSERT_EQ(OpenKey(kHkeyCurrentUser, "Software\\Leaf").SetDword("v", 1), kErrorSuccess);
  EXPECT_EQ(software.DeleteKey("LEAF"), kErrorSuccess);
  RegistryKey recreated = OpenKey(kHkeyCurrentUser, "Software\\Leaf");
  EXPECT_EQ(recreated.DeleteValue("v"), kErrorFileNotFound);
  // A tree delete of the key itself empties it.
  OpenKey(kHkeyCurrentUser, "Software\\Leaf\\Sub");
  ASSERT_EQ(recreated.SetDword("w", 1), kErrorSuccess);
  EXPECT_EQ(recreated.DeleteTree(""), kErrorSuccess);
  EXPECT_EQ(SubKeys(recreated), Names{});
  EXPECT_EQ(ValueNames(recreated), Names{});
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, "", kKeyAllAccess, false).DeleteKey(""), kErrorAccessDenied);
}

TEST_F(RegistryTest, KeysNestAtMost512LevelsAndSoDeepTreesStillDelete) {
  std::string path = "Deep";
  for (size_t level = 2; level <= kMaxKeyDepth; ++level) path += "\\k";
  RegistryKey deepest = OpenKey(kHkeyCurrentUser, path);
  RegistryKey middle = OpenKey(kHkeyCurrentUser, "Deep\\k\\k", kKeyAllAccess, false);
  RegistryKey refused;
  EXPECT_EQ(refused.Create(kHkeyCurrentUser, path + "\\k", kKeyAllAccess), kErrorBadKey);
  EXPECT_EQ(refused.Create(deepest, "k", kKeyAllAccess), kErrorBadKey);
  EXPECT_EQ(refused.Create(middle, path, kKeyAllAccess), kErrorBadKey);
  EXPECT_EQ(SubKeys(middle), Names{"k"});  // nothing of a refused path was made
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, "", kKeyAllAccess, false).DeleteTree("Deep"), kErrorSuccess);
  EXPECT_EQ(Data(kHkeyCurrentUser, "Deep", ""), "<no key>");
}

TEST_F(RegistryTest, ATransactionKeepsAllItsChangesOrNone) {
  for (bool commit : {false, true}) {
    {
      RegistryTransaction transaction;
      RegistryKey user = OpenKey(kHkeyCurrentUser, "Software\\Grouped");
      ASSERT_EQ(user.SetDword("n", 1), kErrorSuccess);
      RegistryKey machine = OpenKey(kHkeyLocalMachine, "Software\\Grouped");
      // A failed call inside leaves the rest standing.
      EXPECT_EQ(machine.DeleteValue("absent"), kErrorFileNotFound);
      ASSERT_EQ(machine.SetDword("n", 2), kErrorSuccess);
      EXPECT_EQ(ValueNames(user), Names{"n"});
      EXPECT_EQ(commit ? transaction.Commit() : kErrorSuccess, kErrorSuccess);
    }
    for (uint32_t root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
      EXPECT_EQ(Data(root, "Software\\Grouped", "n").size(), commit ? 4u : 8u);  // "<no key>"
    }
  }
}

TEST_F(RegistryTest, ClassesRootMergesTheUsersClassesOverTheMachines) {
  RegistryKey machineTxt = OpenKey(kHkeyLocalMachine, "Software\\Classes\\.txt");
  ASSERT_EQ(machineTxt.SetString("", "machine"), kErrorSuccess);
  ASSERT_EQ(machineTxt.SetString("Content Type", "text/plain"), kErrorSuccess);
  OpenKey(kHkeyLocalMachine, "Software\\Classes\\.doc");
  RegistryKey userTxt = OpenKey(kHkeyCurrentUser, "Software\\Classes\\.TXT");
  ASSERT_EQ(userTxt.SetString("", "user"), kErrorSuccess);
  OpenKey(kHkeyCurrentUser, "Software\\Classes\\.mine");

  RegistryKey root = OpenKey(kHkeyClassesRoot, "", kKeyAllAccess, false);
  EXPECT_EQ(root.Path(), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(SubKeys(root), (Names{".doc", ".mine", ".TXT"}));
  RegistryKey txt = OpenKey(kHkeyClassesRoot, ".txt", kKeyAllAccess, false);
  EXPECT_EQ(txt.Path(), "HKEY_CLASSES_ROOT\\.TXT");
  EXPECT_EQ(Data(txt, ""), std::string("user", 5));
  EXPECT_EQ(Data(txt, "content type"), std::string("text/plain", 11));
  EXPECT_EQ(ValueNames(txt), (Names{"", "Content Type"}));
  RegistryValue first;
  ASSERT_EQ(txt.EnumValue(0, first), kErrorSuccess);
  EXPECT_EQ(first.data, RegistryStringData("user"));
  // Values written through the view go to the user's side when the key is there.
  ASSERT_EQ(txt.SetString("Added", "x"), kErrorSuccess);
  EXPECT_EQ(Data(userTxt, "Added"), std::string("x", 2));
  EXPECT_EQ(Data(machineTxt, "Added"), "<missing>");
  // A new key under the view goes to the machine's side.
  OpenKey(kHkeyClassesRoot, ".new");
  EXPECT_EQ(Data(kHkeyLocalMachine, "Software\\Classes\\.new", ""), "<missing>");
  EXPECT_EQ(Data(kHkeyCurrentUser, "Software\\Classes\\.new", ""), "<no key>");
}

TEST_F(RegistryTest, ConcurrentWritersFromSeveralProcessesAllLandAndEnumerate) {
  constexpr int kWriters = 3;
  constexpr int kValues = 150;
  RegistryKey shared = OpenKey(kHkeyLocalMachine, "Software\\Race");
  RegistryKeyInfo info;
  ASSERT_EQ(shared.QueryInfo(info), kErrorSuccess);  // what it lists now must not stick
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t child = fork();
    if (child == 0) {
      // The handle opened before the fork keeps working in the child.
      for (int i = 0; i < kValues; ++i) {
        std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        if (shared.SetDword(name, static_cast<uint32_t>(i)) != kErrorSuccess) _exit(1);
      }
      _exit(0);
    }
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(shared.QueryInfo(info), kErrorSuccess);
  EXPECT_EQ(info.values, static_cast<uint32_t>(kWriters * kValues));
  EXPECT_EQ(Data(shared, "w2_149"), std::string("\x95\0\0\0", 4));
}

TEST_F(RegistryTest, SystemAccountAndUserKeepTheirOwnValuesAndShareTheMachine) {
  for (const char* user : {"SYSTEM", "alice"}) {
    ASSERT_EQ(RunInChild([=] {
                SetEnvironment("NOLT_USER", user);
                RegistryKey own;
                RegistryKey machine;
                RegistryValue before;
                return FirstMismatch(
                    {{own.Create(kHkeyCurrentUser, "Software\\Who", kKeyAllAccess), 0},
                     {own.QueryValue("name", before), kErrorFileNotFound},
                     {own.SetString("name", user), 0},
                     {machine.Create(kHkeyLocalMachine, "Software\\Shared", kKeyAllAccess), 0},
                     {machine.SetString(user, std::string("from ") + user), 0}});
              }),
              0);
  }
  // The system account's per-user keys live in the machine hive.
  EXPECT_EQ(Data(kHkeyLocalMachine, "users\\SYSTEM\\Software\\Who", "name"), std::string("SYSTEM", 7));
  EXPECT_EQ(Data(kHkeyCurrentUser, "Software\\Who", "name"), std::string("alice", 6));
  EXPECT_EQ(Data(kHkeyLocalMachine, "Software\\Shared", "SYSTEM"), std::string("from SYSTEM", 12));
  SetEnvironment("NOLT_USER", "system");  // the name compares without case
  EXPECT_EQ(Data(kHkeyCurrentUser, "Software\\Who", "name"), std::string("SYSTEM", 7));
  EXPECT_EQ(Data(kHkeyLocalMachine, "Software\\Shared", "alice"), std::string("from alice", 11));
  struct stat info {};
  EXPECT_EQ(stat((root_ + "/users/alice/registry/user.db").c_str(), &info), 0);
  EXPECT_NE(stat((root_ + "/users/SYSTEM/registry/user.db").c_str(), &info), 0);
}

// What an unprivileged process may do with a machine hive that root made.
int UnprivilegedMachineAccess(bool rootOnly) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 100;
  uint32_t refused = rootOnly ? kErrorAccessDenied : kErrorSuccess;
  RegistryKey key;
  RegistryKey writer;
  RegistryKey maximum;
  RegistryValue value;
  return FirstMismatch({{key.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyRead), 0},
                        {key.QueryValue("v", value), 0},
                        {key.SetDword("v", 2), kErrorAccessDenied},  // not in the mask
                        {writer.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyWrite), refused},
                        {writer.Create(kHkeyLocalMachine, "Software\\Made", kKeyRead), refused},
                        {maximum.Open(kHkeyLocalMachine, "Software", kMaximumAllowed), 0},
                        {maximum.Access() & kKeySetValue, rootOnly ? 0 : kKeySetValue},
                        {maximum.DeleteKey("Guarded"), refused}});
}

TEST_F(RegistryTest, OnlyRootWritesTheMachineHiveOutsideASandbox) {
  // The sandbox stands in for the machine: the test switch gives it the rules outside one.
  RegistryKey guarded = OpenKey(kHkeyLocalMachine, "Software\\Guarded");
  ASSERT_EQ(guarded.SetDword("v", 1), kErrorSuccess);
  if (geteuid() != 0) {
    SetMachineHiveRootOnlyInSandbox(true);
    RegistryKey writer;
    EXPECT_EQ(writer.Open(kHkeyLocalMachine, "Software\\Guarded", kKeyWrite), kErrorAccessDenied);
    EXPECT_EQ(guarded.SetDword("v", 2), kErrorAccessDenied);
    SetMachineHiveRootOnlyInSandbox(false);
    GTEST_SKIP() << "the uid change needs root";
  }
  ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
  SetMachineHiveRootOnlyInSandbox(true);
  EXPECT_EQ(RunInChild([] { return UnprivilegedMachineAccess(true); }), 0);
  EXPECT_EQ(guarded.SetDword("v", 3), kErrorSuccess);  // root still writes
  SetMachineHiveRootOnlyInSandbox(false);
  // Inside a sandbox every uid writes the machine hive.
  EXPECT_EQ(RunInChild([] { return UnprivilegedMachineAccess(false); }), 0);
}

TEST_F(RegistryTest, OutsideASandboxPathsFollowTheEnvironment) {
  std::vector<std::pair<std::string, std::string>> saved;
  auto set = [&saved](const std::string& name, const std::string& value) {
    const char* previous = std::getenv(name.c_str());
    saved.emplace_back(name, previous != nullptr ? previous : "");
    SetEnvironment(name, value);
  };
  for (const char* name : {"NOLT_ROOT", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) set(name, "");
  set("HOME", "/home/bob");
  set("XDG_RUNTIME_DIR", "/run/user/1000/");
  auto paths = [] {
    return Names{MachineHivePath(), UserHivePath(), LocalAppDataDirectory(),
                 RoamingAppDataDirectory(), PipeDirectory()};
  };
  EXPECT_EQ(paths(), (Names{"/var/lib/tidesync/registry/machine.db",
                            "/home/bob/.local/share/tidesync/registry/user.db",
                            "/home/bob/.local/share", "/home/bob/.config", "/run/user/1000/tidesync"}));
  set("XDG_DATA_HOME", "/data/bob");
  set("XDG_CONFIG_HOME", "/config/bob");
  EXPECT_EQ(paths(), (Names{"/var/lib/tidesync/registry/machine.db",
                            "/data/bob/tidesync/registry/user.db", "/data/bob", "/config/bob",
                            "/run/user/1000/tidesync"}));
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) SetEnvironment(it->first, it->second);
}

TEST_F(RegistryTest, NewHivesStartWithTheirFoldersAndClasses) {
  const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  struct Case {
    const char* user;
    uint32_t root;
    std::string under;
    const char* name;
    std::string path;
  };
  for (const Case& c : {
           Case{"alice", kHkeyLocalMachine, "", "Common Startup",
                root_ + "/machine/common/Start Menu/Programs/Startup"},
           {"alice", kHkeyCurrentUser, "", "Personal", root_ + "/users/alice/local/Personal"},
           {"SYSTEM", kHkeyCurrentUser, "", "Local AppData", root_ + "/users/SYSTEM/local"},
           {"SYSTEM", kHkeyLocalMachine, "users\\SYSTEM\\", "AppData", root_ + "/users/SYSTEM/roaming"}}) {
    SetEnvironment("NOLT_USER", c.user);
    // The plain folder in "Shell Folders", the same as expandable text in "User Shell Folders".
    for (const auto& [folders, type] : {std::pair<const char*, uint32_t>{"Shell Folders", kRegSz},
                                        {"User Shell Folders", kRegExpandSz}}) {
      RegistryValue value;
      ASSERT_EQ(OpenKey(c.root, c.under + explorer + folders, kKeyRead, false).QueryValue(c.name, value),
                kErrorSuccess);
      EXPECT_EQ(value.type, type) << c.name;
      EXPECT_EQ(value.data, RegistryStringData(c.path)) << c.name;
    }
    OpenKey(kHkeyClassesRoot, "", kKeyRead, false);
    OpenKey(c.root, c.under + "Software\\Classes", kKeyRead, false);
  }
  EXPECT_EQ(Data(kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
            root_ + "/machine/common/Windows" + '\0');
}

}  // namespace
