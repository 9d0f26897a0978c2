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
  std::ofstream out(path, std::ios::binary);
  out << bytes;
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

bool UpperCaseConversion(const HxStr& input, const HxStr& output) {
  std::string text = ReadFile(std::string(input));
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  WriteBytes(std::string(output), text);
  return true;
}

class TransferTest : public ::testing::Test {
 protected:
  fs::path Root() const { return sandbox_.Root(); }
  platform::testing::ScopedSandbox sandbox_;
};

// Every part of a split location: protocol|server|path|directory|file|extension|query.
std::string Parts(std::string_view location) {
  const HxLocationParts p = SplitLocation(location);
  return S(p.protocol) + "|" + S(p.server) + "|" + S(p.path) + "|" + S(p.directory) + "|" +
         S(p.file) + "|" + S(p.extension) + "|" + S(p.query);
}

TEST(TransferLocation, SplitsIntoPartsAndFileLocationsBecomeLocalPaths) {
  EXPECT_EQ(Parts("http://server.example:8080/data/manifest.zip?m=1&u=2"),
            "http:|server.example:8080|/data/manifest.zip?m=1&u=2|/data/|manifest|.zip|m=1&u=2");
  EXPECT_EQ(Parts("https:\\\\host\\dir\\sub\\name.tar.gz"),
            "https:|host|\\dir\\sub\\name.tar.gz|\\dir\\sub\\|name.tar|.gz|");
  EXPECT_EQ(Parts("C:\\data\\file"), "||C:\\data\\file|C:\\data\\|file||");
  EXPECT_EQ(Parts("file:///var/lib/x.ini"), "file:||/var/lib/x.ini|/var/lib/|x|.ini|");
  EXPECT_EQ(Parts("\\\\server\\share\\f.txt"), "|server|\\share\\f.txt|\\share\\|f|.txt|");

  // File locations become local paths.
  EXPECT_EQ(S(HxFileObject::LocalPathOf("file:///tmp/a%20b/c.txt")), "/tmp/a b/c.txt");
  EXPECT_EQ(S(HxFileObject::LocalPathOf("file://localhost/tmp/x")), "/tmp/x");
  EXPECT_EQ(S(HxFileObject::LocalPathOf("file:/tmp/100%")), "/tmp/100%");
  EXPECT_EQ(S(HxFileObject::LocalPathOf("FILE:\\\\\\tmp\\y")), "/tmp/y");
  EXPECT_EQ(S(ToLocalPath("\\opt\\data\\f")), "/opt/data/f");
}

TEST_F(TransferTest, FactoryPicksTheClassByProtocolAndAPathObjectReadsStoresDeletesAndGetsIfNewer) {
  EXPECT_NE(dynamic_cast<HxUncObject*>(CreateRemoteObject("/tmp/x").get()), nullptr);
  EXPECT_EQ(dynamic_cast<HxFileObject*>(CreateRemoteObject("/tmp/x").get()), nullptr);
  EXPECT_NE(dynamic_cast<HxFileObject*>(CreateRemoteObject("File:///tmp/x").get()), nullptr);

  const size_t before = ErrorCount();
  EXPECT_EQ(CreateRemoteObject("gopher://host/x"), nullptr);
  ASSERT_EQ(ErrorCount(), before + 1);
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x2000006bu);
  EXPECT_EQ(S(record.Message()), "Unknown protocol:  gopher:");

  RegisterTransferProtocol("FAKE:", MakeFake);
  HxRemoteObjectPtr fake = CreateRemoteObject("fake://srv/dir/f.bin");
  ASSERT_NE(dynamic_cast<FakeObject*>(fake.get()), nullptr);
  EXPECT_EQ(S(fake->Location().server), "srv");

  const fs::path target = Root() / "data" / "file.txt";
  fs::create_directories(target.parent_path());
  HxRemoteObjectPtr object = CreateRemoteObject(target.string());
  EXPECT_FALSE(object->Exists());
  EXPECT_TRUE(object->Delete());  // already absent

  const fs::path source = Root() / "source.txt";
  WriteBytes(source, "first");
  ASSERT_TRUE(object->UploadFilePut(source.string()));
  EXPECT_EQ(ReadFile(target), "first");
  EXPECT_TRUE(object->Exists());
  uint64_t size = 0;
  EXPECT_TRUE(object->GetSize(size));
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(S(object->GetLocalCopy()), target.string());  // its own copy
  EXPECT_TRUE(fs::exists(source));

  WriteBytes(source, "second, longer");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(object->UploadFilePut(source.string()));
  EXPECT_EQ(ReadFile(target), "second, longer");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Storing went through a temporary file that is gone now.
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()),
            1);

  const fs::path fetched = Root() / "fetched.txt";
  EXPECT_TRUE(object->GetFile(fetched.string()));
  EXPECT_EQ(ReadFile(fetched), "second, longer");

  EXPECT_TRUE(object->Delete());
  EXPECT_FALSE(fs::exists(target));
  EXPECT_FALSE(object->GetFile((Root() / "never.txt").string()));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);

  // GetFileIfNewer skips a current target.
  const fs::path newerSource = Root() / "src.bin";
  const fs::path newerTarget = Root() / "dst.bin";
  WriteBytes(newerSource, "content");
  HxRemoteObjectPtr newer = CreateRemoteObject(newerSource.string());
  EXPECT_EQ(newer->GetFileIfNewer(newerTarget.string()), 1);
  EXPECT_EQ(fs::last_write_time(newerTarget),
            fs::last_write_time(newerSource));  // kept by the copy
  EXPECT_EQ(newer->GetFileIfNewer(newerTarget.string()), 2);

  WriteBytes(newerSource, "changed content");
  fs::last_write_time(newerSource, fs::last_write_time(newerTarget) + std::chrono::seconds(5));
  EXPECT_EQ(newer->GetFileIfNewer(newerTarget.string()), 1);
  EXPECT_EQ(ReadFile(newerTarget), "changed content");
}

TEST_F(TransferTest, RemoteLocalCopyLivesWithTheObjectAndCopyToConverts) {
  RegisterTransferProtocol("fake:", MakeFake);
  FakeObject::downloads = 0;
  HxStr copy;
  {
    HxRemoteObjectPtr object = CreateRemoteObject("fake://srv/a/b.txt");
    copy = object->GetLocalCopy();
    ASSERT_FALSE(copy.IsEmpty());
    EXPECT_EQ(fs::path(std::string(copy)).parent_path(), Root() / "tmp");
    EXPECT_EQ(fs::path(std::string(copy)).filename().string().rfind("_hx", 0), 0u);
    EXPECT_EQ(ReadFile(std::string(copy)), "remote body of /a/b.txt");
    EXPECT_EQ(S(object->GetLocalCopy()), S(copy));
    EXPECT_EQ(FakeObject::downloads, 1);
  }
  EXPECT_FALSE(fs::exists(std::string(copy)));

  // CopyTo stores at the other location, through a conversion when asked.
  RegisterTransferConversion(1, UpperCaseConversion);
  HxRemoteObjectPtr object = CreateRemoteObject("fake://srv/doc");
  const fs::path plain = Root() / "plain.txt";
  const fs::path converted = Root() / "converted.txt";
  ASSERT_TRUE(object->CopyTo(plain.string(), 0));
  EXPECT_EQ(ReadFile(plain), "remote body of /doc");
  ASSERT_TRUE(object->CopyTo(converted.string(), 1));
  EXPECT_EQ(ReadFile(converted), "REMOTE BODY OF /DOC");
  EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
}

TEST_F(TransferTest,
       TemporaryDirectoryFollowsTheSandboxOrTheContextAndFileErrorsUseWindowsNumbers) {
  EXPECT_EQ(platform::TempDirectory(), (Root() / "tmp").string() + "/");
  EXPECT_TRUE(fs::is_directory(Root() / "tmp"));
  HxStr path;
  ASSERT_TRUE(CreateTransferTempFile("_hx", path));
  EXPECT_TRUE(fs::exists(std::string(path)));

  static std::string contextTemp;
  contextTemp = (Root() / "context-temp").string();
  fs::create_directories(contextTemp);
  SetTempDirectorySource([] { return HxStr(contextTemp); });
  EXPECT_EQ(S(TransferTempDirectory()), contextTemp + "/");
  {
    ScopedTempFile scoped;
    ASSERT_TRUE(scoped.Create("_hx"));
    EXPECT_EQ(fs::path(std::string(scoped.Path())).parent_path(), fs::path(contextTemp));
    path = scoped.Path();
  }
  EXPECT_FALSE(fs::exists(std::string(path)));
  SetTempDirectorySource(nullptr);

  std::string created;
  EXPECT_FALSE(platform::CreateTempFile((Root() / "missing").string(), "_x", created));
  EXPECT_EQ(platform::LastError(), platform::kErrorPathNotFound);
  EXPECT_FALSE(platform::DeleteFile((Root() / "missing.txt").string()));
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(
      platform::CopyFileReplace((Root() / "missing.txt").string(), (Root() / "t.txt").string()));
  EXPECT_FALSE(fs::exists(Root() / "t.txt"));

  WriteBytes(Root() / "a.txt", "a");
  WriteBytes(Root() / "b.txt", "b");
  EXPECT_TRUE(platform::ReplaceFile((Root() / "a.txt").string(), (Root() / "b.txt").string()));
  EXPECT_EQ(ReadFile(Root() / "b.txt"), "a");
  WriteBytes(Root() / "d.txt", "d");
  EXPECT_FALSE(platform::MoveFile((Root() / "b.txt").string(), (Root() / "d.txt").string()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAlreadyExists);
  EXPECT_TRUE(platform::MoveFile((Root() / "b.txt").string(), (Root() / "c.txt").string()));
  EXPECT_EQ(ReadFile(Root() / "c.txt"), "a");
  EXPECT_FALSE(fs::exists(Root() / "b.txt"));
  EXPECT_TRUE(platform::MoveFile((Root() / "c.txt").string(), (Root() / "b.txt").string()));
  uint64_t fileTime = 0;
  ASSERT_TRUE(platform::SetLastWriteTime((Root() / "b.txt").string(), 0x01D9000000000000ULL));
  ASSERT_TRUE(platform::GetLastWriteTime((Root() / "b.txt").string(), fileTime));
  EXPECT_EQ(fileTime, 0x01D9000000000000ULL);
}

TEST_F(TransferTest, SplittingAndKeyValueParsingTraceTheirDetail) {
  RegisterTransferProtocol("fake:", MakeFake);
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
