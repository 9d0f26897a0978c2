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

constexpr const char* kTemplate =
    "<CLASS NAME=\"Site\" KEY=\"b\"><PROPERTY NAME=\"Url\">http://b/</PROPERTY></CLASS>"
    "<CLASS NAME=\"Site\" KEY=\"a\"><PROPERTY NAME=\"Url\" VALUE=\"http://a/\"/></CLASS>";

class HarvestCollectTest : public InventorySandboxTest {
 protected:
  HarvestCollectTest() { ClearContextStore(); }
  ~HarvestCollectTest() override { ClearContextStore(); }

  // `text` translated by `harvest`; the translation must report an SI text.
  static std::string Out(SdcSyncDataHarvestEx& harvest, const char* text) {
    HxStr out;
    EXPECT_TRUE(harvest.Translate(text, out)) << text;
    // No result file is left in the temporary directory.
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(LocalPath(TransferTempDirectory()), error)) {
      EXPECT_NE(entry.path().filename().string().rfind("si", 0), 0u) << entry.path();
    }
    return out.c_str();
  }
};

TEST_F(HarvestCollectTest, CollectsOnceFromTheTemplateOrNothingWithoutOne) {
  SdcSyncDataHarvestEx harvest;
  harvest.SetTemplatePath(HxStr(Write("t.xml", kTemplate)));
  EXPECT_EQ(Out(harvest, "%Site::*::Url%"), "a,http://a/|b,http://b/");
  // A changed template is not read again by the same object.
  Write("t.xml", "<CLASS NAME=\"Site\" KEY=\"c\"><PROPERTY NAME=\"Url\" VALUE=\"x\"/></CLASS>");
  EXPECT_EQ(Out(harvest, "%Site::?::Url%"), "http://b/");
  SdcSyncDataHarvestEx fresh;
  fresh.SetTemplatePath(HxStr(Path("t.xml")));
  EXPECT_EQ(Out(fresh, "%Site::c::Url%"), "x");

  // Without a template, or a context to find the default one in, the tokens stay.
  SdcSyncDataHarvestEx absent;
  absent.SetTemplatePath(HxStr(Path("absent.xml")));
  SdcSyncDataHarvestEx noContext;
  for (SdcSyncDataHarvestEx* empty : {&absent, &noContext}) {
    EXPECT_EQ(Out(*empty, "x=%Site::a::Url%"), "x=%Site::a::Url%");
    EXPECT_TRUE(empty->HasCollected() && empty->Collection().empty());
  }
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
