// The update's first step seen from outside: the command agent asks the loopback nginx for the
// provider's signed manifest archive, cycle after cycle, and keeps only a manifest it can trust.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "build_tree_files.h"
#include "tests/e2e/support/sync_system.h"

namespace {

namespace fs = std::filesystem;
using e2e::LoggedRequest;
using e2e::SyncSystem;

constexpr const char* kManifestPath = "/tidesync/data/manifest.zip";
constexpr const char* kQueryFields[] = {"macid", "ip", "pkey", "u", "nb", "ver"};
constexpr const char* kVersion = "4.1.0.7";

std::string Manifest(int release) {
  return "<manifest>\n <!-- release " + std::to_string(release) +
         " -->\n <filters/>\n <profile-set/>\n <data-set/>\n</manifest>\n";
}

// "YYYY-MM-DDTHH:MM:SSZ", `seconds` from now.
std::string UtcFromNow(long seconds) {
  const std::time_t when = std::time(nullptr) + seconds;
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// The names of a query's fields, in order, and the value of one of them.
std::vector<std::string> FieldNames(const std::string& query) {
  std::vector<std::string> names;
  std::istringstream fields(query);
  for (std::string field; std::getline(fields, field, '&');) {
    names.push_back(field.substr(0, field.find('=')));
  }
  return names;
}
std::string FieldValue(const std::string& query, const std::string& name) {
  std::istringstream fields(query);
  for (std::string field; std::getline(fields, field, '&');) {
    if (field.rfind(name + "=", 0) == 0) return field.substr(name.size() + 1);
  }
  return "<absent>";
}

// "METHOD path status" for each request, the query left out, to compare whole sequences.
std::vector<std::string> Summaries(const std::vector<LoggedRequest>& requests) {
  std::vector<std::string> lines;
  for (const LoggedRequest& request : requests) {
    lines.push_back(request.method + " " + request.Path() + " " + std::to_string(request.status));
  }
  return lines;
}

// What Summaries() makes of a successful request for the manifest archive.
std::string Asked(const char* method) {
  return std::string(method) + " " + kManifestPath + " 200";
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

class EndToEndUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(system_.Start()) << system_.Failure();
    ASSERT_TRUE(system_.SetValue(SyncSystem::MachineKey(), "LastClientPackageVersion", kVersion));
  }

  // One cycle; the requests nginx answered during it.
  std::vector<LoggedRequest> Cycle(std::string& log) {
    std::vector<LoggedRequest> requests;
    EXPECT_TRUE(system_.RunCycle(log)) << system_.Failure();
    EXPECT_TRUE(system_.Server().TakeRequests(requests));
    return requests;
  }
  std::string LocalManifest() const {
    return ReadFile(system_.ContentDirectory() + "/manifest.xml");
  }
  // Nothing the cycles made for a while is left: no temporary directory, and only the archive
  // and the manifest in the content directory.
  void ExpectNoLeftovers() const {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(system_.TempRoot(), error)) {
      ADD_FAILURE() << "left in the temporary root: " << entry.path();
    }
    for (const auto& entry : fs::directory_iterator(system_.ContentDirectory(), error)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "manifest.zip" || name == "manifest.xml") << "left: " << name;
    }
  }

  SyncSystem system_;
};

// Cycle after cycle against one server: what the agent asks for, and which manifest it keeps.
TEST_F(EndToEndUpdateTest, TheManifestIsFetchedWhenNewerAndOnlyATrustedOneIsKept) {
  // A profile key that must be escaped on the wire.
  ASSERT_TRUE(system_.SetValue(SyncSystem::UserKey(), "ProfileKey", "key {1} caf\xC3\xA9"));
  // An archive left without its manifest.xml must not make the first download conditional.
  ASSERT_TRUE(system_.PublishFile("stale.zip", "not the archive"));
  fs::create_directories(system_.ContentDirectory());
  fs::copy_file(system_.PublishedPath("stale.zip"), system_.ContentDirectory() + "/manifest.zip");

  const std::vector<std::string> getOnly = {Asked("GET")};
  const std::vector<std::string> headThenGet = {Asked("HEAD"), Asked("GET")};
  const std::string far = UtcFromNow(30 * 24 * 3600);
  const std::string past = UtcFromNow(-3600);
  const struct {
    const char* step;
    int release;                      // published this cycle; 0: nothing new
    std::vector<std::string> sign;    // options of `noltpub sign`
    bool tamper;
    std::vector<std::string> requests;
    int kept;                         // the release whose manifest is in place after the cycle
    const char* logged;               // why the cycle refused the manifest, "" when it did not
  } steps[] = {
      {"first download", 1, {"--sequence", "5", "--expires", far}, false, getOnly, 1, ""},
      {"not newer", 0, {}, false, {Asked("HEAD")}, 1, ""},
      {"tampered", 2, {"--sequence", "6", "--expires", far}, true, headThenGet, 1,
       "** Unable to verify manifest file: "},
      {"older sequence", 3, {"--sequence", "4", "--expires", far}, false, headThenGet, 1,
       "** Refusing manifest "},
      {"expired", 4, {"--sequence", "7", "--expires", past}, false, headThenGet, 1,
       "** Refusing manifest "},
      {"next release", 5, {"--sequence", "7", "--expires", far}, false, headThenGet, 5, ""},
  };
  std::string kept;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    if (step.release != 0) {
      ASSERT_TRUE(system_.PublishManifest(Manifest(step.release), step.sign, step.tamper))
          << system_.Failure();
    }
    std::string log;
    const std::vector<LoggedRequest> requests = Cycle(log);
    EXPECT_EQ(Summaries(requests), step.requests) << log;
    if (step.kept == step.release) kept = Manifest(step.release);
    // The manifest lands without its credentials header; a refused one leaves the last one
    // byte for byte.
    EXPECT_EQ(LocalManifest(), kept) << log;
    // A refusal says why; a cycle that keeps what it got logs no error.
    EXPECT_NE(log.find(*step.logged != '\0' ? step.logged : "Update Successful"),
              std::string::npos)
        << log;
    if (*step.logged == '\0') {
      EXPECT_EQ(log.find(" ERROR "), std::string::npos) << log;
    }
    ExpectNoLeftovers();
    // Every request names machine, user and profile, in this order, escaped.
    for (const LoggedRequest& request : requests) {
      const std::string query = request.Query();
      EXPECT_EQ(FieldNames(query), std::vector<std::string>(std::begin(kQueryFields),
                                                            std::end(kQueryFields)))
          << request.target;
      EXPECT_TRUE(std::regex_match(FieldValue(query, "macid"),
                                   std::regex("%7B[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}%7D")))
          << request.target;
      EXPECT_EQ(FieldValue(query, "pkey"), "key%20%7B1%7D%20caf%C3%A9");
      EXPECT_EQ(FieldValue(query, "u"), e2e::kUser);
      EXPECT_EQ(FieldValue(query, "nb"), HostName());
      EXPECT_EQ(FieldValue(query, "ver"), kVersion);
    }
  }
  EXPECT_EQ(system_.StopAgent(), 0);
}

// A long query goes as a form, privacy mode hides the machine, and content paths are escaped.
TEST_F(EndToEndUpdateTest, ALongQueryIsPostedPrivacyHidesTheMachineAndPathsAreEscaped) {
  ASSERT_TRUE(system_.SetValue(SyncSystem::UserKey(), "ProfileKey", std::string(1100, 'k')));
  ASSERT_TRUE(system_.PublishManifest(Manifest(1))) << system_.Failure();
  std::string log;
  std::vector<LoggedRequest> requests = Cycle(log);
  EXPECT_EQ(Summaries(requests), std::vector<std::string>{Asked("POST")}) << log;
  if (requests.size() == 1) {
    EXPECT_EQ(requests[0].Query(), "");
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_GE(std::atoi(requests[0].contentLength.c_str()), 1024);
  }
  EXPECT_EQ(LocalManifest(), Manifest(1)) << log;

  ASSERT_TRUE(system_.SetValue(SyncSystem::UserKey(), "ProfileKey", "short"));
  ASSERT_TRUE(system_.SetValue(SyncSystem::UserKey("Sync"), "PrivacyMode", "1", "REG_DWORD"));
  ASSERT_TRUE(system_.PublishManifest(Manifest(2))) << system_.Failure();
  requests = Cycle(log);
  EXPECT_EQ(Summaries(requests), (std::vector<std::string>{Asked("HEAD"), Asked("GET")})) << log;
  for (const LoggedRequest& request : requests) {
    const std::string query = request.Query();
    SCOPED_TRACE(request.target);
    EXPECT_EQ(FieldValue(query, "ip"), "%7Bprivate_ip%7D");
    EXPECT_EQ(FieldValue(query, "u"), "%7Bprivate_user_name%7D");
    EXPECT_EQ(FieldValue(query, "nb"), "%7Bprivate_machine_name%7D");
    EXPECT_EQ(FieldValue(query, "pkey"), "short");
    EXPECT_EQ(FieldValue(query, "ver"), kVersion);
  }
  EXPECT_EQ(LocalManifest(), Manifest(2)) << log;
  ExpectNoLeftovers();
  EXPECT_EQ(system_.StopAgent(), 0);

  // Content paths with a blank and with letters beyond ASCII travel escaped.
  const struct {
    const char* file;
    const char* onTheWire;
  } files[] = {{"data/two words.txt", "/tidesync/data/two%20words.txt"},
               {"data/r\xC3\xA9sum\xC3\xA9.txt", "/tidesync/data/r%C3%A9sum%C3%A9.txt"}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.file);
    ASSERT_TRUE(system_.PublishFile(file.file, file.onTheWire));
    const std::string target = system_.Root() + "/fetched.txt";
    const e2e::ToolResult fetched =
        system_.RunTool("noltcmd", {"--get", system_.ServerUrl(file.file), target});
    EXPECT_EQ(fetched.exitCode, 0) << fetched.output;
    EXPECT_EQ(ReadFile(target), file.onTheWire);
    ASSERT_TRUE(system_.Server().TakeRequests(requests));
    EXPECT_EQ(Summaries(requests), std::vector<std::string>{std::string("GET ") + file.onTheWire +
                                                            " 200"});
  }
}

}  // namespace
