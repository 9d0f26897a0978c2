// The collector over sandbox data: command dispatch, rejections and each real collector.
#include <algorithm>
#include <filesystem>
#include <string>

#include "inventory_test_support.h"
#include "platform/registry.h"

namespace {

using CollectorTest = InventorySandboxTest;

TEST_F(CollectorTest, UnknownAndMalformedElementsAreRejectedAndTheRestCollected) {
  SdcHarvestCollection found = Collect(
      "<?xml version=\"1.0\"?>\n"
      "<Bogus/>\n"
      "<FileProp CLASS=\"F\"/>\n"
      "<CLASS NAME=\"Site\" KEY=\"main\"><PROPERTY NAME=\"Url\">http://a/</PROPERTY></CLASS>\n"
      "<PingTest HOST=\"x\"/>\n");
  const auto& rejected = collector.Rejections();
  ASSERT_EQ(rejected.size(), 2u);
  std::string templatePath = Path("template.xml");
  EXPECT_EQ(std::string(rejected[0].c_str()),
            "No.1 node under root 'rootroot' in template file '" + templatePath +
                "' is not in good format. (unknown command <Bogus>)\n");
  EXPECT_EQ(std::string(rejected[1].c_str()),
            "No.2 node under root 'rootroot' in template file '" + templatePath +
                "' is not in good format. (attribute 'PATH' is missing)\n");
  // The class block still counts; commands without a collector here yield nothing.
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::string(found[0].className.c_str()), "Site");
  EXPECT_EQ(Property(found[0], "Url"), "http://a/");
}

TEST_F(CollectorTest, UnreadableTemplateFails) {
  EXPECT_FALSE(collector.Run(Path("missing.xml"), Path("r.xml"), "I"));
  Write("broken.xml", "<A><B></A>");
  EXPECT_FALSE(collector.Run(Path("broken.xml"), Path("r.xml"), "I"));
}

TEST_F(CollectorTest, ClassBlocksAndFollowingProperties) {
  SdcHarvestCollection found = Collect(
      "<PROPERTY NAME=\"Orphan\" VALUE=\"x\"/>"
      "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"P\" VALUE=\"1\"/></CLASS>"
      "<PROPERTY NAME=\"Q\">2</PROPERTY>"
      "<CLASS NAME=\"Site\" KEY=\"b\"><Other/></CLASS>"
      "<CLASS NAME=\"Site\"/>");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Property(found[0], "P"), "1");
  EXPECT_EQ(Property(found[0], "Q"), "2");
  ASSERT_EQ(collector.Rejections().size(), 3u);
  EXPECT_NE(collector.Rejections()[0].Find("PROPERTY outside a class block"), -1);
  EXPECT_NE(collector.Rejections()[2].Find("No.5 node"), -1);
}

TEST_F(CollectorTest, EnvironmentWithNameFilter) {
  system.environment = {{"HOME", "/home/t"}, {"LANG", "C"}, {"HOSTTYPE", "x86_64"}};
  SdcHarvestCollection found = Collect("<EnvEnum NAME=\"ho*\"/>");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(std::string(found[0].className.c_str()), "Environment");
  EXPECT_EQ(std::string(found[0].key.c_str()), "HOME");
  EXPECT_EQ(Property(found[0], "Value"), "/home/t");
  EXPECT_EQ(std::string(found[1].key.c_str()), "HOSTTYPE");
}

TEST_F(CollectorTest, RegistryValueKeysAndEnumeration) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, "Software\\Test\\App", platform::kKeyAllAccess),
            0u);
  key.SetString("Version", "2.5");
  key.SetDword("Count", 42);
  std::vector<uint8_t> multi = {'a', 0, 'b', 0, 0};
  key.SetValue("List", platform::kRegMultiSz, multi.data(), 5);
  std::vector<uint8_t> bytes = {0xDE, 0x01};
  key.SetValue("Blob", platform::kRegBinary, bytes.data(), 2);
  platform::RegistryKey child;
  ASSERT_EQ(child.Create(key, "Plugins\\Zeta", platform::kKeyAllAccess), 0u);
  child.SetString("DisplayName", "Zeta plug-in");
  ASSERT_EQ(child.Create(key, "Plugins\\alpha", platform::kKeyAllAccess), 0u);

  SdcHarvestCollection found = Collect(
      "<RegQueryValue CLASS=\"AppVer\" KEY=\"Software\\Test\\App\" VALUE=\"Version\" "
      "INSTANCE=\"app\"/>"
      "<RegQueryValue KEY=\"Software\\Test\\App\" VALUE=\"Absent\"/>"
      "<RegQueryValue ROOT=\"HKXX\" KEY=\"Software\"/>"
      "<RegEnumValue CLASS=\"V\" ROOT=\"HKEY_LOCAL_MACHINE\" KEY=\"Software\\Test\\App\"/>"
      "<RegEnumKey CLASS=\"K\" KEY=\"Software\\Test\\App\\Plugins\"/>"
      "<RegEnumKey KEY=\"Software\\Nowhere\"/>");
  ASSERT_EQ(collector.Rejections().size(), 1u);
  EXPECT_NE(collector.Rejections()[0].Find("unknown registry root 'HKXX'"), -1);
  ASSERT_EQ(found.size(), 7u);
  EXPECT_EQ(std::string(found[0].key.c_str()), "app");
  EXPECT_EQ(Property(found[0], "Value"), "2.5");
  EXPECT_EQ(Property(found[0], "Type"), "1");
  EXPECT_EQ(Property(found[1], "Value"), "2.5");
  EXPECT_EQ(std::string(found[2].key.c_str()), "Count");
  EXPECT_EQ(Property(found[2], "Value"), "42");
  EXPECT_EQ(Property(found[3], "Value"), "a;b");
  EXPECT_EQ(Property(found[4], "Value"), "DE01");
  EXPECT_EQ(std::string(found[5].key.c_str()), "alpha");
  EXPECT_EQ(Property(found[5], "DisplayName"), "<absent>");
  EXPECT_EQ(std::string(found[6].key.c_str()), "Zeta");
  EXPECT_EQ(Property(found[6], "DisplayName"), "Zeta plug-in");
}

TEST_F(CollectorTest, FilePropertiesAndScan) {
  Write("data.bin", "12345");
  std::filesystem::create_directories(Path("tree/sub"));
  Write("tree/a.conf", "x");
  Write("tree/sub/b.CONF", "yy");
  Write("tree/sub/c.txt", "z");
  SdcHarvestCollection found = Collect(
      "<FileProp CLASS=\"F\" PATH=\"" + Path("data.bin") + "\" INSTANCE=\"data\"/>"
      "<FileProp PATH=\"" + Path("none.bin") + "\"/>"
      "<ScanFile CLASS=\"Conf\" DIR=\"" + Path("tree") + "\" NAME=\"*.conf\"/>"
      "<ScanFile CLASS=\"Top\" DIR=\"" + Path("tree") + "\" NAME=\"*.conf\" RECURSIVE=\"0\"/>"
      "<ScanFile DIR=\"" + Path("no-such-dir") + "\"/>");
  EXPECT_TRUE(collector.Rejections().empty());
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(std::string(found[0].key.c_str()), "data");
  EXPECT_EQ(Property(found[0], "Size"), "5");
  EXPECT_NE(Property(found[0], "LastWriteTime"), "0");
  std::vector<std::string> conf = {found[1].key.c_str(), found[2].key.c_str()};
  std::sort(conf.begin(), conf.end());
  EXPECT_EQ(conf, (std::vector<std::string>{Path("tree/a.conf"), Path("tree/sub/b.CONF")}));
  EXPECT_EQ(std::string(found[3].className.c_str()), "Top");
  EXPECT_EQ(Property(found[3], "Name"), "a.conf");
}

TEST_F(CollectorTest, IniValueBySectionAndName) {
  std::string ini = Write("app.ini",
                          "; comment\n[General]\nName = outer\n[ Main ]\r\n"
                          "name= inner value \r\nOther=1\n[Last]\nName=last\n");
  SdcHarvestCollection found = Collect(
      "<IniQueryValue CLASS=\"Ini\" PATH=\"" + ini + "\" SECTION=\"main\" KEY=\"NAME\"/>"
      "<IniQueryValue PATH=\"" + ini + "\" SECTION=\"Main\" KEY=\"Missing\"/>"
      "<IniQueryValue PATH=\"" + ini + "\" KEY=\"Name\"/>");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Property(found[0], "Value"), "inner value");
  EXPECT_EQ(std::string(found[0].key.c_str()), "NAME");
  ASSERT_EQ(collector.Rejections().size(), 1u);
  EXPECT_NE(collector.Rejections()[0].Find("attribute 'SECTION' is missing"), -1);
}

TEST_F(CollectorTest, LogicalDisksFromMountTable) {
  std::filesystem::create_directories(Path("mnt/my disk"));
  system.mountTable = Write("mounts",
                            "proc /proc proc rw 0 0\n"
                            "/dev/sda1 " + Path("mnt/my\\040disk") + " ext4 rw 0 0\n"
                            "/dev/sdz9 " + Path("gone") + " ext4 rw 0 0\n");
  SdcHarvestCollection found = Collect("<LogicalDiskEnum/>");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::string(found[0].className.c_str()), "LogicalDisk");
  EXPECT_EQ(std::string(found[0].key.c_str()), Path("mnt/my disk"));
  EXPECT_EQ(Property(found[0], "Device"), "/dev/sda1");
  EXPECT_EQ(Property(found[0], "FileSystem"), "ext4");
  EXPECT_GT(std::stoull(Property(found[0], "Size")), 0u);
  EXPECT_NE(Property(found[0], "FreeSpace"), "<absent>");
}

TEST_F(CollectorTest, InstalledPackagesOnly) {
  system.packages = Write("status",
                          "Package: zlib1g\nStatus: install ok installed\nArchitecture: amd64\n"
                          "Description: compression\n library text\nVersion: 1:1.2.13\n\n"
                          "Package: gone\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
                          "Package: curl\nStatus: install ok installed\nVersion: 7.88.1-10\n");
  SdcHarvestCollection found = Collect("<AppEnum CLASS=\"Pkg\"/>");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(std::string(found[0].key.c_str()), "zlib1g");
  EXPECT_EQ(Property(found[0], "Version"), "1:1.2.13");
  EXPECT_EQ(Property(found[0], "Architecture"), "amd64");
  EXPECT_EQ(std::string(found[1].key.c_str()), "curl");
  EXPECT_EQ(Property(found[1], "Version"), "7.88.1-10");
}

}  // namespace
