// The expander end to end: collecting from a template file into the temporary "si" result,
// once per object, and the default template in the content directory.
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/context/context_store.h"
#include "foundation/context/directory_layout.h"
#include "foundation/transfer/transfer_temp.h"
#include "inventory/sdc_sync_data_harvest_ex.h"
#include "inventory_test_support.h"

namespace {

class HarvestCollectTest : public InventorySandboxTest {
 protected:
  HarvestCollectTest() { ClearContextStore(); }
  ~HarvestCollectTest() override { ClearContextStore(); }

  static std::string Out(SdcSyncDataHarvestEx& harvest, const char* text, bool expected = true) {
    HxStr out;
    EXPECT_EQ(harvest.Translate(text, out), expected) << text;
    return out.c_str();
  }

  // Result files left behind in the temporary directory.
  static int LeftoverResults() {
    int count = 0;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(LocalPath(TransferTempDirectory()), error)) {
      if (entry.path().filename().string().rfind("si", 0) == 0) ++count;
    }
    return count;
  }

  static constexpr const char* kTemplate =
      "<CLASS NAME=\"Site\" KEY=\"b\"><PROPERTY NAME=\"Url\">http://b/</PROPERTY></CLASS>"
      "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"Url\" VALUE=\"http://a/\"/></CLASS>";
};

TEST_F(HarvestCollectTest, CollectsOnceFromTheTemplateAndDeletesTheResult) {
  SdcSyncDataHarvestEx harvest;
  harvest.SetTemplatePath(HxStr(Write("t.xml", kTemplate)));
  EXPECT_FALSE(harvest.HasCollected());
  EXPECT_EQ(Out(harvest, "%Site::*::Url%"), "a,http://a/|b,http://b/");
  EXPECT_EQ(harvest.Collection().size(), 2u);
  EXPECT_EQ(LeftoverResults(), 0);
  // A changed template is not read again by the same object.
  Write("t.xml", "<CLASS NAME=\"Site\" KEY=\"c\"><PROPERTY NAME=\"Url\" VALUE=\"x\"/></CLASS>");
  EXPECT_EQ(Out(harvest, "%Site::?::Url%"), "http://b/");
  EXPECT_EQ(Out(harvest, "%Site::c::Url%"), "%Site::c::Url%");
  SdcSyncDataHarvestEx fresh;
  fresh.SetTemplatePath(HxStr(Path("t.xml")));
  EXPECT_EQ(Out(fresh, "%Site::c::Url%"), "x");
}

TEST_F(HarvestCollectTest, MissingTemplateOrContextLeavesTokensButStillTranslates) {
  SdcSyncDataHarvestEx harvest;
  harvest.SetTemplatePath(HxStr(Path("absent.xml")));
  EXPECT_EQ(Out(harvest, "x=%Site::a::Url%"), "x=%Site::a::Url%");
  EXPECT_TRUE(harvest.HasCollected());
  EXPECT_TRUE(harvest.Collection().empty());
  EXPECT_EQ(LeftoverResults(), 0);
  EXPECT_EQ(Out(harvest, "%MODULEVERSION%", false), "%MODULEVERSION%");
  SdcSyncDataHarvestEx noContext;  // no template path and no context to find the default in
  EXPECT_EQ(Out(noContext, "%Site::a::Url%"), "%Site::a::Url%");
  EXPECT_TRUE(noContext.Collection().empty());
}

TEST_F(HarvestCollectTest, DefaultTemplateIsInTheContentDirectory) {
  ASSERT_TRUE(LoadContext("prov", "http://srv", "alice", false));
  HxStr content;
  ASSERT_TRUE(GetDirectory("DirContent", content, true));
  std::ofstream(LocalPath(content) + "default.xml") << kTemplate;
  SdcSyncDataHarvestEx harvest;
  EXPECT_EQ(Out(harvest, "%Site::A::Url%"), "http://a/");
}

}  // namespace
