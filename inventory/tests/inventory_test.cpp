// The collector over sandbox data (command dispatch, rejections and each real collector) and
// the expander: SI token syntax and resolution over instances collected once from a template
// into the temporary "si" result, and the default template in the content directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "foundation/context/context_store.h"
#include "foundation/context/directory_layout.h"
#include "foundation/transfer/transfer_temp.h"
#include "inventory/inventory_collector.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "inventory/upload_info.h"
#include "platform/registry.h"
#include "scoped_sandbox.h"

namespace {

// Environment, mounts and packages from the test's own data.
class SandboxSystem : public HarvestSystem {
 public:
  std::vector<std::pair<std::string, std::string>> Environment() const override {
    return environment;
  }
  std::string MountTablePath() const override { return mountTable; }
  std::string PackageDatabasePath() const override { return packages; }

  std::vector<std::pair<std::string, std::string>> environment;
  std::string mountTable;
  std::string packages;
};

class CollectorTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return sandbox_.Root() + "/" + name; }

  // Writes the file, and the folders it needs.
  std::string Write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  // `text` with every "$" replaced by the sandbox root.
  std::string InRoot(const std::string& text) const {
    return std::regex_replace(text, std::regex("\\$"), sandbox_.Root());
  }

  // Runs `templateText` (with "$" for the sandbox root) through the collector and reads the
  // result back, each instance as "Class/key" and the values of the named properties ("?" for
  // an absent one), joined by " ".
  std::string Collect(const std::string& templateText,
                      std::initializer_list<const char*> properties) {
    EXPECT_TRUE(
        collector.Run(Write("template.xml", InRoot(templateText)), Path("result.xml"), "Issue"));
    SdcHarvestCollection collection;
    EXPECT_TRUE(ReadUploadInfo(Path("result.xml"), collection));
    std::string text;
    for (const SdcHarvestInstance& instance : collection) {
      text += std::string(" ") + instance.className.c_str() + "/" + instance.key.c_str();
      for (HxStr value; const char* name : properties) {
        text +=
            std::string(" ") + name + "=" + (instance.properties.Get(name, value) ? value : "?");
      }
    }
    return text.substr(std::min<size_t>(text.size(), 1));
  }

  // The rejection lines of the last run as "No.N (reason)|" each.
  std::string Rejections() const {
    std::string text;
    for (const HxStr& line : collector.Rejections()) text += line.c_str();
    return std::regex_replace(text, std::regex(" node under root .*? good format. (.*)\n"), " $1|");
  }

  platform::testing::ScopedSandbox sandbox_;
  SandboxSystem system;
  InventoryCollector collector{&system};
};

// Unknown and malformed elements are rejected, one line each, and the rest collected; a class
// block takes the properties that follow it; commands without a collector here yield nothing.
// An element names a command by its beginning, without case.
TEST_F(CollectorTest, RejectionsClassBlocksAndTheEnvironment) {
  system.environment = {{"HOME", "/home/t"}, {"LANG", "C"}, {"HOSTTYPE", "x86_64"}};
  EXPECT_EQ(Collect("<?xml version=\"1.0\"?>\n<App/>\n<FileProp CLASS=\"F\"/>\n"
                    "<PROPERTY NAME=\"Orphan\" VALUE=\"x\"/>"
                    "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"P\" VALUE=\"1\"/></CLASS>"
                    "<PROPERTY NAME=\"Q\">2</PROPERTY>"
                    "<CLASS NAME=\"Site\" KEY=\"b\"><Other/></CLASS><CLASS NAME=\"Site\"/>"
                    "<PingTest HOST=\"x\"/><envenumVars NAME=\"ho*\"/>",
                    {"P", "Q", "Value"}),
            "Site/a P=1 Q=2 Value=? Environment/HOME P=? Q=? Value=/home/t "
            "Environment/HOSTTYPE P=? Q=? Value=x86_64");
  EXPECT_EQ(std::string(collector.Rejections()[0].c_str()),
            "No.1 node under root 'rootroot' in template file '" + Path("template.xml") +
                "' is not in good format. (unknown command <App>)\n");
  EXPECT_EQ(Rejections(),
            "No.1 (unknown command <App>)|No.2 (attribute 'PATH' is missing)|No.3 (PROPERTY "
            "outside a class block)|No.6 (child <Other> of the class block is not a PROPERTY "
            "with a NAME)|No.7 (attribute 'KEY' is missing)|");
  EXPECT_FALSE(collector.Run(Path("missing.xml"), Path("r.xml"), "I"));
  EXPECT_FALSE(collector.Run(Write("broken.xml", "<A><B></A>"), Path("r.xml"), "I"));
}

TEST_F(CollectorTest, RegistryValueKeysAndEnumeration) {
  using namespace platform;
  RegistryKey key, child;
  const uint8_t multi[] = {'a', 0, 'b', 0, 0}, bytes[] = {0xDE, 0x01};
  for (uint32_t error :
       {key.Create(kHkeyLocalMachine, "Software\\Test\\App", kKeyAllAccess),
        key.SetString("Version", "2.5"), key.SetDword("Count", 42),
        key.SetValue("List", kRegMultiSz, multi, 5), key.SetValue("Blob", kRegBinary, bytes, 2),
        child.Create(key, "Plugins\\Zeta", kKeyAllAccess),
        child.SetString("DisplayName", "Zeta plug-in"),
        child.Create(key, "Plugins\\alpha", kKeyAllAccess)}) {
    ASSERT_EQ(error, 0u);
  }

  EXPECT_EQ(
      Collect("<RegQueryValue CLASS=\"AppVer\" KEY=\"Software\\Test\\App\" VALUE=\"Version\" "
              "INSTANCE=\"app\"/><RegQueryValue KEY=\"Software\\Test\\App\" VALUE=\"Absent\"/>"
              "<RegQueryValue ROOT=\"HKXX\" KEY=\"Software\"/>"
              "<RegEnumValue CLASS=\"V\" ROOT=\"HKEY_LOCAL_MACHINE\" KEY=\"Software\\Test\\App\"/>"
              "<RegEnumKey CLASS=\"K\" KEY=\"Software\\Test\\App\\Plugins\"/>"
              "<RegEnumKey KEY=\"Software\\Nowhere\"/>",
              {"Value", "Type", "DisplayName"}),
      "AppVer/app Value=2.5 Type=1 DisplayName=? V/Version Value=2.5 Type=1 DisplayName=? "
      "V/Count Value=42 Type=4 DisplayName=? V/List Value=a;b Type=7 DisplayName=? "
      "V/Blob Value=DE01 Type=3 DisplayName=? K/alpha Value=? Type=? DisplayName=? "
      "K/Zeta Value=? Type=? DisplayName=Zeta plug-in");
  EXPECT_EQ(Rejections(), "No.3 (unknown registry root 'HKXX')|");
}

TEST_F(CollectorTest, FilesIniValuesDisksAndPackages) {
  for (const char* name : {"data.bin", "tree/a.conf", "tree/sub/b.CONF", "tree/sub/c.txt"}) {
    Write(name, name[0] == 'd' ? "12345" : "x");
  }
  Write("app.ini",
        "; x\n[General]\nName = outer\n[ Main ]\r\nname= inner value "
        "\r\nOther=1\n[Last]\nName=last\n");
  EXPECT_EQ(
      Collect("<FileProp CLASS=\"F\" PATH=\"$/data.bin\" INSTANCE=\"data\"/>"
              "<FileProp PATH=\"$/none.bin\"/><FileProp PATH=\"$/tree\"/>"
              "<ScanFile CLASS=\"Top\" DIR=\"$/tree\" NAME=\"*.conf\" RECURSIVE=\"0\"/>"
              "<ScanFile DIR=\"$/no-such-dir\"/>"
              "<IniQueryValue CLASS=\"Ini\" PATH=\"$/app.ini\" SECTION=\"main\" KEY=\"NAME\"/>"
              "<IniQueryValue PATH=\"$/app.ini\" SECTION=\"Main\" KEY=\"Missing\"/>"
              "<IniQueryValue PATH=\"$/app.ini\" KEY=\"Name\"/>",
              {"Size", "Name", "Value"}),
      InRoot("F/data Size=5 Name=? Value=? Top/$/tree/a.conf Size=1 Name=a.conf Value=? "
             "Ini/NAME Size=? Name=NAME Value=inner value"));
  EXPECT_EQ(Rejections(), "No.8 (attribute 'SECTION' is missing)|");
  // Recursive scans find names in any letter case, in the order the directories list them.
  const std::string found = Collect("<ScanFile CLASS=\"C\" DIR=\"$/tree\" NAME=\"*.conf\"/>", {});
  EXPECT_TRUE(found == InRoot("C/$/tree/a.conf C/$/tree/sub/b.CONF") ||
              found == InRoot("C/$/tree/sub/b.CONF C/$/tree/a.conf"))
      << found;

  // Mounted file systems and installed packages.
  std::filesystem::create_directories(Path("mnt/my disk"));
  system.mountTable = Write("mounts", InRoot("proc /proc proc rw 0 0\n/dev/sda1 $/mnt/my\\040disk "
                                             "ext4 rw 0 0\n/dev/sdz9 $/gone ext4 rw 0 0\n"));
  system.packages = Write("status",
                          "Package: zlib1g\nStatus: install ok installed\nArchitecture: amd64\n"
                          "Description: compression\n library text\nVersion: 1:1.2.13\n\n"
                          "Package: gone\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
                          "Package: curl\nStatus: install ok installed\nVersion: 7.88.1-10\n");
  EXPECT_EQ(
      Collect("<LogicalDiskEnum/><AppEnumInstalled CLASS=\"Pkg\"/>",
              {"Device", "FileSystem", "Version", "Architecture"}),
      InRoot("LogicalDisk/$/mnt/my disk Device=/dev/sda1 FileSystem=ext4 Version=? "
             "Architecture=? Pkg/zlib1g Device=? FileSystem=? Version=1:1.2.13 "
             "Architecture=amd64 Pkg/curl Device=? FileSystem=? Version=7.88.1-10 Architecture="));
  SdcHarvestCollection disks;
  ASSERT_TRUE(ReadUploadInfo(Path("result.xml"), disks));
  HxStr size;
  ASSERT_TRUE(disks[0].properties.Get("Size", size) && disks[0].properties.Contains("FreeSpace"));
  EXPECT_GT(std::stoull(size.c_str()), 0u);
}

// Instances in this order: Disk/sdb, Disk/sda, Disk/sdc, Os/main, X/k.
constexpr const char* kTemplate =
    "<CLASS NAME=\"Disk\" KEY=\"sdb\"><PROPERTY NAME=\"Size\">200</PROPERTY>"
    "<PROPERTY NAME=\"Label\" VALUE=\"data\"/></CLASS><CLASS NAME=\"Disk\" KEY=\"sda\">"
    "<PROPERTY NAME=\"Size\" VALUE=\"100\"/></CLASS><CLASS NAME=\"Disk\" KEY=\"sdc\">"
    "<PROPERTY NAME=\"Label\" VALUE=\"spare\"/></CLASS><CLASS NAME=\"Os\" KEY=\"main\">"
    "<PROPERTY NAME=\"Name\" VALUE=\"Debian\"/></CLASS>"
    "<CLASS NAME=\"X\" KEY=\"k\"><PROPERTY NAME=\"a::b\" VALUE=\"v\"/></CLASS>";

class HarvestTest : public CollectorTest {
 protected:
  HarvestTest() { ClearContextStore(); }
  ~HarvestTest() override { ClearContextStore(); }

  // `text` translated by `harvest`, which must say whether the text held an SI token.
  static std::string Out(SdcSyncDataHarvestEx& harvest, const std::string& text,
                         bool hasToken = true) {
    HxStr out;
    EXPECT_EQ(harvest.Translate(text.c_str(), out), hasToken) << text.substr(0, 40);
    return out.c_str();
  }
};

TEST_F(HarvestTest, TokensResolveOverTheInstancesCollectedOnceAtTheFirstText) {
  SdcSyncDataHarvestEx harvest;
  harvest.SetTemplatePath(HxStr(Write("t.xml", kTemplate)));
  EXPECT_FALSE(harvest.HasCollected());
  EXPECT_EQ(Out(harvest, "%MODULEVERSION%", false), "%MODULEVERSION%");  // collects all the same
  Write("t.xml", "<CLASS NAME=\"Disk\" KEY=\"new\"><PROPERTY NAME=\"Size\" VALUE=\"1\"/></CLASS>");
  const std::string longToken = "%Disk::" + std::string(4095, 'k') + "::Size%";
  const std::string atLimit = "%Disk::" + std::string(4095 - 14, 'k') + "::Size%";  // 4095
  // Two parts, an empty part or an over-long candidate make no SI token: "" (the text stays).
  // "?" takes the first instance of the class (compared without case); "*" joins every
  // instance's key and value in key order; a key selector ignores case; unresolved tokens stay;
  // a text may hold several tokens and other macros; the property part keeps further "::".
  // clang-format off
  const std::pair<std::string, std::string> kTexts[] = {
      {"plain text", ""}, {"%Disk::sda%", ""}, {"%::sda::Size%", ""}, {"%Disk::::Size%", ""},
      {"%Disk::sda::%", ""}, {longToken, ""}, {atLimit, atLimit},
      {"size=%Disk::?::Size%", "size=200"}, {"%os::?::Name%", "Debian"},
      {"%Os::?::Version%", "%Os::?::Version%"}, {"%Disk::*::Size%", "sda,100|sdb,200"},
      {"%Disk::*::Label%", "sdb,data|sdc,spare"}, {"[%Disk::*::No%]", "[%Disk::*::No%]"},
      {"%Disk::SDA::Size%", "100"}, {"%Disk::sdz::Size%", "%Disk::sdz::Size%"},
      {"%Net::sda::Size%", "%Net::sda::Size%"}, {"%X::k::a::b%", "v"},
      {"%USERNAME% on %Os::main::Name% with %Disk::sda::Size% and %Disk::sda::Size%",
       "%USERNAME% on Debian with 100 and 100"}};
  // clang-format on
  for (const auto& [text, out] : kTexts) {
    EXPECT_EQ(Out(harvest, text, !out.empty()), out.empty() ? text : out);
  }
  SdcSyncDataHarvestEx fresh;  // a new object reads the changed template
  fresh.SetTemplatePath(HxStr(Path("t.xml")));
  EXPECT_EQ(Out(fresh, "%Disk::new::Size%"), "1");

  // Without a template, or a context to find the default one in, the tokens stay.
  SdcSyncDataHarvestEx absent;
  absent.SetTemplatePath(HxStr(Path("absent.xml")));
  SdcSyncDataHarvestEx noContext;
  for (SdcSyncDataHarvestEx* empty : {&absent, &noContext}) {
    EXPECT_EQ(Out(*empty, "x=%Os::main::Name%"), "x=%Os::main::Name%");
    EXPECT_TRUE(empty->HasCollected() && empty->Collection().empty());
  }
  // With a context, the default template is the content directory's.
  ASSERT_TRUE(LoadContext("prov", "http://srv", "alice", false));
  HxStr content;
  ASSERT_TRUE(GetDirectory("DirContent", content, true));
  std::ofstream(LocalPath(content) + "default.xml") << kTemplate;
  SdcSyncDataHarvestEx withDefault;
  EXPECT_EQ(Out(withDefault, "%Os::MAIN::Name%"), "Debian");
  std::error_code error;  // no result file is left in the temporary directory
  for (const auto& entry :
       std::filesystem::directory_iterator(LocalPath(TransferTempDirectory()), error)) {
    EXPECT_NE(entry.path().filename().string().rfind("si", 0), 0u) << entry.path();
  }
}

}  // namespace
