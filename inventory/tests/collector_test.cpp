// The collector over sandbox data: command dispatch, rejections and each real collector.
#include <filesystem>
#include <string>

#include "inventory_test_support.h"
#include "platform/registry.h"

namespace {

using CollectorTest = InventorySandboxTest;

// Unknown and malformed elements are rejected, one line each, and the rest collected; a class
// block takes the properties that follow it; commands without a collector here yield nothing.
TEST_F(CollectorTest, RejectionsClassBlocksAndTheEnvironment) {
  system.environment = {{"HOME", "/home/t"}, {"LANG", "C"}, {"HOSTTYPE", "x86_64"}};
  EXPECT_EQ(Collect("<?xml version=\"1.0\"?>\n<Bogus/>\n<FileProp CLASS=\"F\"/>\n"
                    "<PROPERTY NAME=\"Orphan\" VALUE=\"x\"/>"
                    "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"P\" VALUE=\"1\"/></CLASS>"
                    "<PROPERTY NAME=\"Q\">2</PROPERTY>"
                    "<CLASS NAME=\"Site\" KEY=\"b\"><Other/></CLASS><CLASS NAME=\"Site\"/>"
                    "<PingTest HOST=\"x\"/><EnvEnum NAME=\"ho*\"/>",
                    {"P", "Q", "Value"}),
            "Site/a P=1 Q=2 Value=? Environment/HOME P=? Q=? Value=/home/t "
            "Environment/HOSTTYPE P=? Q=? Value=x86_64");
  EXPECT_EQ(std::string(collector.Rejections()[0].c_str()),
            "No.1 node under root 'rootroot' in template file '" + Path("template.xml") +
                "' is not in good format. (unknown command <Bogus>)\n");
  EXPECT_EQ(Rejections(),
            "No.1 (unknown command <Bogus>)|No.2 (attribute 'PATH' is missing)|No.3 (PROPERTY "
            "outside a class block)|No.6 (child <Other> of the class block is not a PROPERTY "
            "with a NAME)|No.7 (attribute 'KEY' is missing)");
  EXPECT_FALSE(collector.Run(Path("missing.xml"), Path("r.xml"), "I"));
  EXPECT_FALSE(collector.Run(Write("broken.xml", "<A><B></A>"), Path("r.xml"), "I"));
}

TEST_F(CollectorTest, RegistryValueKeysAndEnumeration) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Create(platform::kHkeyLocalMachine, "Software\\Test\\App", platform::kKeyAllAccess),
            0u);
  key.SetString("Version", "2.5");
  key.SetDword("Count", 42);
  const uint8_t multi[] = {'a', 0, 'b', 0, 0};
  key.SetValue("List", platform::kRegMultiSz, multi, 5);
  const uint8_t bytes[] = {0xDE, 0x01};
  key.SetValue("Blob", platform::kRegBinary, bytes, 2);
  platform::RegistryKey child;
  ASSERT_EQ(child.Create(key, "Plugins\\Zeta", platform::kKeyAllAccess), 0u);
  child.SetString("DisplayName", "Zeta plug-in");
  ASSERT_EQ(child.Create(key, "Plugins\\alpha", platform::kKeyAllAccess), 0u);

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
  EXPECT_EQ(Rejections(), "No.3 (unknown registry root 'HKXX')");
}

TEST_F(CollectorTest, FilePropertiesScansAndIniValues) {
  Write("data.bin", "12345");
  std::filesystem::create_directories(Path("tree/sub"));
  Write("tree/a.conf", "x");
  Write("tree/sub/b.CONF", "yy");
  Write("tree/sub/c.txt", "z");
  const std::string ini = Write("app.ini",
                                "; comment\n[General]\nName = outer\n[ Main ]\r\n"
                                "name= inner value \r\nOther=1\n[Last]\nName=last\n");
  const std::string found = Collect("<FileProp CLASS=\"F\" PATH=\"" + Path("data.bin") +
                                        "\" INSTANCE=\"data\"/>"
                                        "<FileProp PATH=\"" +
                                        Path("none.bin") +
                                        "\"/>"
                                        "<ScanFile CLASS=\"Top\" DIR=\"" +
                                        Path("tree") +
                                        "\" NAME=\"*.conf\" RECURSIVE=\"0\"/>"
                                        "<ScanFile DIR=\"" +
                                        Path("no-such-dir") +
                                        "\"/>"
                                        "<IniQueryValue CLASS=\"Ini\" PATH=\"" +
                                        ini +
                                        "\" SECTION=\"main\" KEY=\"NAME\"/>"
                                        "<IniQueryValue PATH=\"" +
                                        ini +
                                        "\" SECTION=\"Main\" KEY=\"Missing\"/>"
                                        "<IniQueryValue PATH=\"" +
                                        ini + "\" KEY=\"Name\"/>",
                                    {"Size", "Name", "Value"});
  EXPECT_EQ(found, "F/data Size=5 Name=? Value=? Top/" + Path("tree/a.conf") +
                       " Size=1 Name=a.conf Value=? Ini/NAME Size=? Name=NAME Value=inner value");
  EXPECT_EQ(Rejections(), "No.7 (attribute 'SECTION' is missing)");
  // Recursive scans find names in any letter case, in the order the directories list them.
  const std::string recursive =
      Collect("<ScanFile CLASS=\"Conf\" DIR=\"" + Path("tree") + "\" NAME=\"*.conf\"/>", {});
  EXPECT_TRUE(recursive == "Conf/" + Path("tree/a.conf") + " Conf/" + Path("tree/sub/b.CONF") ||
              recursive == "Conf/" + Path("tree/sub/b.CONF") + " Conf/" + Path("tree/a.conf"))
      << recursive;
}

TEST_F(CollectorTest, LogicalDisksFromTheMountTableAndInstalledPackages) {
  std::filesystem::create_directories(Path("mnt/my disk"));
  system.mountTable =
      Write("mounts", "proc /proc proc rw 0 0\n/dev/sda1 " + Path("mnt/my\\040disk") +
                          " ext4 rw 0 0\n/dev/sdz9 " + Path("gone") + " ext4 rw 0 0\n");
  system.packages = Write("status",
                          "Package: zlib1g\nStatus: install ok installed\nArchitecture: amd64\n"
                          "Description: compression\n library text\nVersion: 1:1.2.13\n\n"
                          "Package: gone\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
                          "Package: curl\nStatus: install ok installed\nVersion: 7.88.1-10\n");
  EXPECT_EQ(Collect("<LogicalDiskEnum/><AppEnum CLASS=\"Pkg\"/>",
                    {"Device", "FileSystem", "Version", "Architecture"}),
            "LogicalDisk/" + Path("mnt/my disk") +
                " Device=/dev/sda1 FileSystem=ext4 Version=? Architecture=? "
                "Pkg/zlib1g Device=? FileSystem=? Version=1:1.2.13 Architecture=amd64 "
                "Pkg/curl Device=? FileSystem=? Version=7.88.1-10 Architecture=");
  SdcHarvestCollection disks;
  ASSERT_TRUE(ReadUploadInfo(Path("result.xml"), disks));
  HxStr size;
  ASSERT_TRUE(disks[0].properties.Get("Size", size) && disks[0].properties.Contains("FreeSpace"));
  EXPECT_GT(std::stoull(size.c_str()), 0u);
}

}  // namespace
