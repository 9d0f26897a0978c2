// Transfer objects: splitting locations, choosing the class by protocol, the path and file:
// objects, the generic local copy and CopyTo, and the platform file operations under them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "build_tree_files.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/kv/hx_stream.h"
#include "foundation/log/error_store.h"
#include "foundation/transfer/hx_path_objects.h"
#include "foundation/transfer/hx_remote_object.h"
#include "foundation/transfer/transfer_temp.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "scoped_sandbox.h"
#include "trace_capture.h"

namespace {

namespace fs = std::filesystem;

std::string S(const HxStr& s) { return std::string(std::string_view(s)); }

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A remote kind whose downloads produce fixed text, registered for "fake:".
class FakeObject : public HxRemoteObject {
 public:
  using HxRemoteObject::GetFile;
  using HxRemoteObject::HxRemoteObject;
  bool GetFile(const HxStr& target, const char*) override {
    ++downloads;
    WriteBytes(std::string(target), "remote body of " + S(Location().path));
    return true;
  }
  static inline int downloads = 0;
};

HxRemoteObjectPtr MakeFake(const HxLocationParts& location) {
  return std::make_shared<FakeObject>(location);
}

class TransferTest : public ::testing::Test {
 protected:
  TransferTest() { RegisterTransferProtocol("FAKE:", MakeFake); }
  fs::path Root() const { return sandbox_.Root(); }
  std::string At(const char* name) const { return (Root() / name).string(); }
  platform::testing::ScopedSandbox sandbox_;
};

TEST(TransferLocation, SplitsIntoPartsAndFileLocationsBecomeLocalPaths) {
  const std::pair<const char*, const char*> kParts[] = {  // protocol|server|path|dir|file|ext|query
      {"http://server.example:8080/data/manifest.zip?m=1&u=2",
       "http:|server.example:8080|/data/manifest.zip?m=1&u=2|/data/|manifest|.zip|m=1&u=2"},
      {"https:\\\\host\\dir\\sub\\name.tar.gz",
       "https:|host|\\dir\\sub\\name.tar.gz|\\dir\\sub\\|name.tar|.gz|"},
      {"C:\\data\\file", "||C:\\data\\file|C:\\data\\|file||"},
      {"file:///var/lib/x.ini", "file:||/var/lib/x.ini|/var/lib/|x|.ini|"},
      {"\\\\server\\share\\f.txt", "|server|\\share\\f.txt|\\share\\|f|.txt|"},
  };
  for (const auto& [location, parts] : kParts) {
    const HxLocationParts p = SplitLocation(location);
    EXPECT_EQ(S(p.protocol) + "|" + S(p.server) + "|" + S(p.path) + "|" + S(p.directory) + "|" +
                  S(p.file) + "|" + S(p.extension) + "|" + S(p.query),
              parts);
  }
  const std::pair<const char*, const char*> kLocalPaths[] = {
      {"file:///tmp/a%20b/c.txt", "/tmp/a b/c.txt"}, {"file://localhost/tmp/x", "/tmp/x"},
      {"file:/tmp/100%", "/tmp/100%"}, {"FILE:\\\\\\tmp\\y", "/tmp/y"}};
  for (const auto& [location, path] : kLocalPaths) {
    EXPECT_EQ(S(HxFileObject::LocalPathOf(location)), path);
  }
  EXPECT_EQ(S(ToLocalPath("\\opt\\data\\f")), "/opt/data/f");
}

TEST_F(TransferTest, FactoryPicksTheClassByProtocol) {
  EXPECT_NE(dynamic_cast<HxUncObject*>(CreateRemoteObject("/tmp/x").get()), nullptr);
  EXPECT_EQ(dynamic_cast<HxFileObject*>(CreateRemoteObject("/tmp/x").get()), nullptr);
  EXPECT_NE(dynamic_cast<HxFileObject*>(CreateRemoteObject("File:///tmp/x").get()), nullptr);
  EXPECT_EQ(S(CreateRemoteObject("fake://srv/dir/f.bin")->Location().server), "srv");

  const size_t before = ErrorCount();
  EXPECT_EQ(CreateRemoteObject("gopher://host/x"), nullptr);
  ASSERT_EQ(ErrorCount(), before + 1);
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x2000006bu);
  EXPECT_EQ(S(record.Message()), "Unknown protocol:  gopher:");
}

TEST_F(TransferTest, APathObjectStoresReadsDeletesAndGetsIfNewer) {
  const fs::path target = Root() / "data" / "file.txt";
  fs::create_directories(target.parent_path());
  HxRemoteObjectPtr object = CreateRemoteObject(target.string());
  EXPECT_FALSE(object->Exists());
  EXPECT_TRUE(object->Delete());  // already absent

  WriteBytes(At("source.txt"), "first");
  ASSERT_TRUE(object->UploadFilePut(At("source.txt")));
  uint64_t size = 0;
  EXPECT_TRUE(object->Exists() && object->GetSize(size));
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(S(object->GetLocalCopy()), target.string());  // its own copy

  // Storing again keeps the target's modes and leaves no temporary file.
  WriteBytes(At("source.txt"), "second, longer");
  const fs::perms modes = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target, modes);
  ASSERT_TRUE(object->UploadFilePut(At("source.txt")));
  EXPECT_EQ(ReadFile(target), "second, longer");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, modes);
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()),
            1);

  EXPECT_TRUE(object->GetFile(At("fetched.txt")));
  EXPECT_EQ(ReadFile(At("fetched.txt")), "second, longer");
  EXPECT_TRUE(object->Delete());
  EXPECT_FALSE(fs::exists(target));
  EXPECT_FALSE(object->GetFile(At("never.txt")));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);

  // GetFileIfNewer skips a current target; the copy keeps the source's time.
  WriteBytes(At("src.bin"), "content");
  HxRemoteObjectPtr newer = CreateRemoteObject(At("src.bin"));
  EXPECT_EQ(newer->GetFileIfNewer(At("dst.bin")), 1);
  EXPECT_EQ(fs::last_write_time(At("dst.bin")), fs::last_write_time(At("src.bin")));
  EXPECT_EQ(newer->GetFileIfNewer(At("dst.bin")), 2);
  WriteBytes(At("src.bin"), "changed content");
  fs::last_write_time(At("src.bin"), fs::last_write_time(At("dst.bin")) + std::chrono::seconds(5));
  EXPECT_EQ(newer->GetFileIfNewer(At("dst.bin")), 1);
  EXPECT_EQ(ReadFile(At("dst.bin")), "changed content");
}

TEST_F(TransferTest, RemoteLocalCopyLivesWithTheObjectAndCopyToConverts) {
  FakeObject::downloads = 0;
  HxStr copy;
  {
    HxRemoteObjectPtr object = CreateRemoteObject("fake://srv/a/b.txt");
    copy = object->GetLocalCopy();
    ASSERT_FALSE(copy.IsEmpty());
    EXPECT_EQ(fs::path(S(copy)).parent_path(), Root() / "tmp");
    EXPECT_EQ(fs::path(S(copy)).filename().string().rfind("_hx", 0), 0u);
    EXPECT_EQ(ReadFile(S(copy)), "remote body of /a/b.txt");
    EXPECT_EQ(S(object->GetLocalCopy()), S(copy));
    EXPECT_EQ(FakeObject::downloads, 1);
  }
  EXPECT_FALSE(fs::exists(S(copy)));

  // CopyTo stores at the other location, through a conversion when asked.
  RegisterTransferConversion(1, [](const HxStr& input, const HxStr& output) {
    std::string text = ReadFile(S(input));
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteBytes(S(output), text);
    return true;
  });
  HxRemoteObjectPtr object = CreateRemoteObject("fake://srv/doc");
  ASSERT_TRUE(object->CopyTo(At("plain.txt"), 0));
  EXPECT_EQ(ReadFile(At("plain.txt")), "remote body of /doc");
  ASSERT_TRUE(object->CopyTo(At("converted.txt"), 1));
  EXPECT_EQ(ReadFile(At("converted.txt")), "REMOTE BODY OF /DOC");
  EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
}

TEST_F(TransferTest, TemporaryDirectoryFollowsTheSandboxOrTheContext) {
  EXPECT_EQ(platform::TempDirectory(), At("tmp") + "/");
  HxStr path;
  ASSERT_TRUE(CreateTransferTempFile("_hx", path));
  EXPECT_EQ(fs::path(S(path)).parent_path(), Root() / "tmp");

  static std::string contextTemp;
  contextTemp = At("context-temp");
  fs::create_directories(contextTemp);
  SetTempDirectorySource([] { return HxStr(contextTemp); });
  EXPECT_EQ(S(TransferTempDirectory()), contextTemp + "/");
  {
    ScopedTempFile scoped;
    ASSERT_TRUE(scoped.Create("_hx"));
    EXPECT_EQ(fs::path(S(scoped.Path())).parent_path(), fs::path(contextTemp));
    path = scoped.Path();
  }
  EXPECT_FALSE(fs::exists(S(path)));
  SetTempDirectorySource(nullptr);
}

// The platform's file operations report Windows' error numbers.
TEST_F(TransferTest, FileOperationsReportWindowsErrorNumbers) {
  std::string created;
  EXPECT_FALSE(platform::CreateTempFile(At("missing"), "_x", created));
  EXPECT_EQ(platform::LastError(), platform::kErrorPathNotFound);
  EXPECT_FALSE(platform::DeleteFile(At("missing.txt")));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(platform::CopyFileReplace(At("missing.txt"), At("t.txt")));
  EXPECT_FALSE(fs::exists(At("t.txt")));

  WriteBytes(At("a.txt"), "a");
  WriteBytes(At("b.txt"), "b");
  WriteBytes(At("d.txt"), "d");
  EXPECT_TRUE(platform::ReplaceFile(At("a.txt"), At("b.txt")));
  EXPECT_FALSE(platform::MoveFile(At("b.txt"), At("d.txt")));
  EXPECT_EQ(platform::LastError(), platform::kErrorAlreadyExists);
  EXPECT_TRUE(platform::MoveFile(At("b.txt"), At("c.txt")));
  EXPECT_EQ(ReadFile(At("c.txt")) + ReadFile(At("d.txt")), "ad");
  uint64_t fileTime = 0;
  ASSERT_TRUE(platform::SetLastWriteTime(At("c.txt"), 0x01D9000000000000ULL));
  ASSERT_TRUE(platform::GetLastWriteTime(At("c.txt"), fileTime));
  EXPECT_EQ(fileTime, 0x01D9000000000000ULL);
}

TEST_F(TransferTest, SplittingAndKeyValueParsingTraceTheirDetail) {
  TraceCapture capture;
  CreateRemoteObject("fake://srv/dir/name.ext");
  HxStream stream;
  stream.Write("[S]\nk=v\nflag\n");
  stream.Seek(0);
  HxKVListMap map;
  map.Read(stream);
  EXPECT_EQ(capture.Text(),
            "prot = fake:, src = srv, dir = /dir/, file = name, ext = .ext\n"
            "Value: <k>=<v>\n"
            "Value: <flag>=<>\n"
            "Insert: S 2\n");
}

}  // namespace
