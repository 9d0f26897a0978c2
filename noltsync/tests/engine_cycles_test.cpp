// Update and upload cycle bookkeeping against doubles of the updater and the uploader: the
// stage driver's paths, the direct path, the upload ratio and switches, and what is recorded.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine_test_fixture.h"
#include "foundation/registry/provider_store.h"
#include "noltsync/engine/sync_cycles.h"
#include "noltsync/engine/sync_state.h"
#include "noltsync/entry/modlet_context.h"
#include "noltsync/runmode/run_context.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/uploader/nolt_uploader.h"

namespace {

constexpr const char* kNewDataPost = "Posting Message: MODLET_MSG_NOTIFY to NOLTCMD.";

// Answers the driver's calls from a script and records them in order.
class ScriptedUpdater : public NoltUpdater {
 public:
  ScriptedUpdater() : NoltUpdater("prov", "http://host/path") {}

  std::deque<int> stages{0};  // successive stages; the last one repeats
  int updateStatus = 0;
  int downloadCount = 0;
  int completeStatus = 0;
  int requestCount = 0;
  int requestsDone = 0;
  int directStatus = 0;
  bool reloadNeeded = false;
  bool bits = true;
  std::vector<std::string> calls;

  int GetBitsDownloadState(HxStr* jobId, HxStr* state, HxStr* count) override {
    (void)count;
    calls.push_back("state");
    const int stage = stages.front();
    if (stages.size() > 1) stages.pop_front();
    if (jobId) *jobId = "{JOB}";
    if (state) *state = "TRANSFERRING";
    return stage;
  }
  int Update(int* count) override {
    calls.push_back("update");
    *count = downloadCount;
    return updateStatus;
  }
  int CompleteBitsJob(int* total, int* done, bool finishNow) override {
    calls.push_back(finishNow ? "complete-now" : "complete");
    *total = requestCount;
    *done = requestsDone;
    return completeStatus;
  }
  int DoUpdate() override {
    calls.push_back("direct");
    return directStatus;
  }
  bool IsContextReloadNeeded() const override { return reloadNeeded; }
  bool HasBits() const override { return bits; }
};

class CountingUploader : public NoltUploader {
 public:
  CountingUploader() : NoltUploader("prov", "http://host/path", false) {}
  int RunUpload() override {
    ++runs;
    return result;
  }
  int runs = 0;
  int result = 0;
};

class CyclesTest : public EngineTest {
 protected:
  CyclesTest() {
    context_.providerId = kProvider;
    context_.userId = kUser;
    context_.name = "Tidesync";
    UseCommandAgent(true);
    record_ = MakeSyncNotifyRecord(context_);
    updater_ = std::make_unique<ScriptedUpdater>();
    uploader_ = std::make_unique<CountingUploader>();
    ClearLog();
  }

  void UseCommandAgent(bool inCommandAgent) {
    context_.runContext = std::make_unique<RunContext>(!inCommandAgent, !inCommandAgent,
                                                       inCommandAgent, false, false, kUser,
                                                       kProvider);
  }
  int Drive() { return UpdateStageDriver(context_, *updater_, record_); }
  std::vector<std::string> Calls() const { return updater_->calls; }
  // The update was recorded as ended with `code` (and not otherwise).
  void ExpectUpdateEnded(int code) {
    EXPECT_EQ(UserDword("LastUpdateErrCode"), static_cast<uint32_t>(code));
    EXPECT_TRUE(UserValueExists("LastAttemptUpdateTimeHex"));
  }
  void ExpectUpdateNotEnded() { EXPECT_FALSE(UserValueExists("LastAttemptUpdateTimeHex")); }
  void StoreBitsStart(int64_t secondsAgo) {
    sync_state::WriteHexTime(sync_state::kLastBitsUpdateStartTime,
                             Now().Add(-secondsAgo * HxTime::kSecond));
  }

  ModletContext context_;
  SyncNotifyRecord record_{};
  std::unique_ptr<ScriptedUpdater> updater_;
  std::unique_ptr<CountingUploader> uploader_;
};

using CallList = std::vector<std::string>;

TEST_F(CyclesTest, StageOneWithDownloadsStartsAndStaysPending) {
  updater_->stages = {0, 2};
  updater_->downloadCount = 4;
  EXPECT_EQ(Drive(), 1);
  EXPECT_EQ(Calls(), (CallList{"state", "update", "state"}));
  EXPECT_TRUE(Logged("Update stage 1 starts...\n", 2));
  EXPECT_TRUE(Logged("Download count 4\n", 1));
  EXPECT_TRUE(Logged("New sync state: stage=2 state=TRANSFERRING\n", 1));
  EXPECT_EQ(StoredTime("LastBitsUpdateStartTime").FileTime(), Now().FileTime());
  EXPECT_TRUE(UserValueExists("LastBitsUpdateStartTime"));
  ExpectUpdateNotEnded();
}

TEST_F(CyclesTest, StageOneWithNothingToDownloadEndsWithItsStatus) {
  updater_->updateStatus = 11;
  EXPECT_EQ(Drive(), 0);
  EXPECT_TRUE(Logged("Update stage 1 failure: status=11\n", 8));
  EXPECT_TRUE(Logged("Update Failed...Error code: 11, Failure count: 1\n", 2));
  ExpectUpdateEnded(11);
  EXPECT_EQ(CountLogged(kNewDataPost), 0);

  ClearLog();
  updater_->updateStatus = 28;  // a pending content job is no failure
  EXPECT_EQ(Drive(), 0);
  EXPECT_EQ(CountLogged("Update stage 1 failure"), 0);
  EXPECT_EQ(UserDword("UpdateFailureCount"), 2u);
}

TEST_F(CyclesTest, StageTwoWithinTheTimeOutPollsAgain) {
  updater_->stages = {2};
  StoreBitsStart(3000);
  SetSync("MaxUpdateTimeOut", "1");
  EXPECT_EQ(Drive(), 2);
  EXPECT_EQ(Calls(), (CallList{"state"}));
  EXPECT_TRUE(Logged("Past due time 3000 is lesser than the threshold 3600\n", 1));
  EXPECT_TRUE(Logged("Update stage 2 progress: BITS ID={JOB} stats=TRANSFERRING\n", 2));
  ExpectUpdateNotEnded();
}

TEST_F(CyclesTest, OverdueStageTwoIsFinishedAndANewUpdateStarts) {
  updater_->stages = {2, 0};
  updater_->requestCount = 5;
  updater_->requestsDone = 1;
  updater_->reloadNeeded = true;
  StoreBitsStart(3600);
  SetSync("MaxUpdateTimeOut", "1");
  EXPECT_EQ(Drive(), 0);
  EXPECT_EQ(Calls(), (CallList{"state", "complete-now", "update", "state"}));
  EXPECT_TRUE(Logged("Past due time 3600 is greater than the threshold 3600\n", 1));
  EXPECT_TRUE(Logged(
      "Exceeded past due Sync time. Finishing the current BITS job {JOB} with state "
      "TRANSFERRING\n",
      1));
  EXPECT_TRUE(Logged("Partial completion of BITS job...\n", 2));
  EXPECT_TRUE(Logged("Reloading context...\n", 1));
  EXPECT_TRUE(Logged("Update Failed...Error code: 29, Failure count: 1\n", 2));
  // The forced finish ends one update, the empty stage 1 another (successful) one.
  EXPECT_LT(IndexOf("Update Failed...Error code: 29"), IndexOf("Update stage 1 starts"));
  ExpectUpdateEnded(0);
  EXPECT_EQ(StoredTime("LastBitsUpdateStartTime").FileTime(), Now().FileTime());
}

TEST_F(CyclesTest, StartWithoutARecordedStartIsNeverOverdue) {
  updater_->stages = {2};
  uint32_t elapsed = 99;
  EXPECT_FALSE(IsBitsUpdateOverdue(elapsed));
  EXPECT_EQ(elapsed, 0u);
  StoreBitsStart(-600);  // a start ahead of now counts as no time passed
  EXPECT_FALSE(IsBitsUpdateOverdue(elapsed));
  EXPECT_EQ(elapsed, 0u);
  StoreBitsStart(259200);
  EXPECT_TRUE(IsBitsUpdateOverdue(elapsed));
  EXPECT_EQ(elapsed, 259200u);
}

TEST_F(CyclesTest, StageThreePartialCompletionEndsTheUpdate) {
  updater_->stages = {3};
  updater_->requestCount = 5;
  updater_->requestsDone = 3;
  updater_->completeStatus = 0;
  EXPECT_EQ(Drive(), 2);
  EXPECT_TRUE(Logged("Update stage 3 progress: BITS ID={JOB} stats=TRANSFERRING\n", 2));
  EXPECT_TRUE(Logged("Partial completion of BITS job...\n", 2));
  ExpectUpdateEnded(0);

  updater_->requestsDone = 4;  // one left is no partial completion
  ClearLog();
  Drive();
  EXPECT_EQ(CountLogged("Partial completion"), 0);
}

TEST_F(CyclesTest, ManifestJobDoneWaitsForTheNewContentJob) {
  updater_->stages = {3, 2};
  updater_->completeStatus = 27;
  EXPECT_EQ(Drive(), 2);
  EXPECT_TRUE(Logged(
      "Done with Manifest download. Going to wait for profile/content download to finish\n", 2));
  ExpectUpdateNotEnded();
}

TEST_F(CyclesTest, ManifestJobDoneWithoutContentIsATotalCompletion) {
  updater_->stages = {3, 0};
  updater_->completeStatus = 27;
  EXPECT_EQ(Drive(), 0);
  EXPECT_TRUE(Logged("Done with Manifest download. No contents to download\n", 2));
  EXPECT_TRUE(Logged("Total completion of BITS job...\n", 1));
  EXPECT_TRUE(Logged("Update Successful...\n", 2));
  ExpectUpdateEnded(0);
}

TEST_F(CyclesTest, ContentStillDownloadingReturnsAFreshStage) {
  updater_->stages = {3, 2};
  updater_->completeStatus = 28;
  EXPECT_EQ(Drive(), 2);
  EXPECT_TRUE(Logged("Content download in progress. Lets poll again\n", 1));
  EXPECT_EQ(Calls(), (CallList{"state", "complete", "state"}));
  ExpectUpdateNotEnded();
}

TEST_F(CyclesTest, TotalCompletionWithNewContentReloadsAndAnnouncesIt) {
  updater_->stages = {3};
  updater_->completeStatus = 0;
  updater_->reloadNeeded = true;
  EXPECT_EQ(Drive(), 0);
  EXPECT_TRUE(Logged("Reloading context...\n", 1));
  EXPECT_EQ(CountLogged(kNewDataPost), 1);
  EXPECT_LT(IndexOf("Reloading context"), IndexOf("Total completion of BITS job"));
  ExpectUpdateEnded(0);

  ClearLog();
  updater_->reloadNeeded = false;
  updater_->completeStatus = 22;
  EXPECT_EQ(Drive(), 0);
  EXPECT_EQ(CountLogged(kNewDataPost), 0);
  ExpectUpdateEnded(22);
}

TEST_F(CyclesTest, OtherStagesDoNothing) {
  for (int stage : {1, 4, -1}) {
    updater_->stages = {stage};
    EXPECT_EQ(Drive(), 0);
  }
  ExpectUpdateNotEnded();
}

TEST_F(CyclesTest, UpdateEndRecordsCountsAndTimes) {
  UpdateProcessEnd(6);
  UpdateProcessEnd(6);
  EXPECT_EQ(UserDword("UpdateFailureCount"), 2u);
  EXPECT_EQ(UserDword("LastUpdateErrCode"), 6u);
  EXPECT_FALSE(UserValueExists("LastSuccessUpdateTime"));
  AdvanceSeconds(60);
  UpdateProcessEnd(0);
  EXPECT_EQ(UserDword("UpdateFailureCount"), 0u);
  EXPECT_EQ(UserDword("LastUpdateErrCode"), 0u);
  EXPECT_EQ(StoredTime("LastAttemptUpdateTime").FileTime(), Now().FileTime());
  std::string success;
  ASSERT_TRUE(UserString("LastSuccessUpdateTime", success));
  EXPECT_EQ(success, std::string(Now().Readable().c_str()));
  EXPECT_FALSE(UserValueExists("LastSuccessUpdateTimeHex"));
  EXPECT_TRUE(Logged("Update process ends...currentTime: " + success + "\n", 2));
}

TEST_F(CyclesTest, DirectPathRecordsTheUpdatersStatusUnlessDownloadIsDisabled) {
  updater_->directStatus = 4;
  updater_->reloadNeeded = true;
  RunUpdateCycle(context_, *updater_, record_);
  EXPECT_EQ(Calls(), (CallList{"direct"}));
  EXPECT_EQ(CountLogged("Update process starts...currentTime: "), 1);
  EXPECT_EQ(CountLogged(kNewDataPost), 1);
  ExpectUpdateEnded(4);

  PutUserDword("DisableDownload", 1);
  ClearLog();
  updater_->calls.clear();
  RunUpdateCycle(context_, *updater_, record_);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(Logged("DisableDownload Flag Set in User context...\n", 1));
  EXPECT_TRUE(Logged("Update Successful...\n", 2));
  EXPECT_EQ(UserDword("UpdateFailureCount"), 0u);
  ExpectUpdateEnded(0);
}

TEST_F(CyclesTest, OnlyTheServiceAccountsDoubleWordBindsTheCommandAgent) {
  PutUserString("DisableDownload", "1");  // wrongly typed: no switch
  EXPECT_TRUE(IsDownloadEnabled(context_));
  PutServiceDword("DisableDownload", 1);
  EXPECT_FALSE(IsDownloadEnabled(context_));
  EXPECT_TRUE(Logged("DisableDownload Flag Set in HKLM provider context...\n", 1));
  UseCommandAgent(false);
  EXPECT_TRUE(IsDownloadEnabled(context_));
}

TEST_F(CyclesTest, UploadRatioDecidesHowOftenAnUpdateUploads) {
  SetSync("UploadPerUpdateRatio", "3");
  std::vector<uint32_t> counts;
  std::vector<bool> uploads;
  for (int decision = 0; decision < 6; ++decision) {
    uploads.push_back(NeedUpload());
    counts.push_back(UserDword("UpdateRatioCount"));
  }
  EXPECT_EQ(counts, (std::vector<uint32_t>{1, 2, 0, 1, 2, 0}));
  EXPECT_EQ(uploads, (std::vector<bool>{false, false, true, false, false, true}));
  EXPECT_TRUE(Logged("NeedUpload: NO (2/3)\n", 2));
  EXPECT_TRUE(Logged("NeedUpload: YES (3/3)\n", 2));

  SetSync("UploadPerUpdateRatio", "0");  // every time
  EXPECT_TRUE(NeedUpload());
  EXPECT_TRUE(Logged("NeedUpload: YES (1/1)\n", 2));
  SetSync("UploadPerUpdateRatio", "-1");  // never, still counting
  for (int decision = 0; decision < 3; ++decision) EXPECT_FALSE(NeedUpload());
  EXPECT_EQ(UserDword("UpdateRatioCount"), 3u);
}

TEST_F(CyclesTest, UploadSwitchesStopTheUploadBeforeCounting) {
  PutUserDword("DisableUpload", 1);
  EXPECT_FALSE(NeedUpload());
  EXPECT_TRUE(Logged("DisableUpload Flag Set in HKCU user context...\n", 1));
  PutServiceDword("DisableUpload", 1);
  ClearLog();
  EXPECT_FALSE(NeedUpload());
  EXPECT_TRUE(Logged("DisableUpload Flag Set in HKLM provider context...\n", 1));
  EXPECT_EQ(CountLogged("DisableUpload Flag Set in HKCU"), 0);
  EXPECT_FALSE(UserValueExists("UpdateRatioCount"));
}

TEST_F(CyclesTest, UploadCycleRecordsFailuresAndSuccess) {
  uploader_->result = 17;
  RunUploadCycle(*uploader_);
  RunUploadCycle(*uploader_);
  EXPECT_EQ(uploader_->runs, 2);
  EXPECT_EQ(UserDword("UploadFailureCount"), 2u);
  EXPECT_EQ(UserDword("LastUploadErrCode"), 17u);
  EXPECT_TRUE(Logged("Upload Failed...Error code: 17, Failure count: 2\n", 2));
  EXPECT_TRUE(UserValueExists("LastAttemptUploadTime"));
  EXPECT_FALSE(UserValueExists("LastSuccessUploadTime"));

  uploader_->result = 0;
  RunUploadCycle(*uploader_);
  EXPECT_EQ(UserDword("UploadFailureCount"), 0u);
  EXPECT_EQ(UserDword("LastUploadErrCode"), 0u);
  EXPECT_TRUE(UserValueExists("LastSuccessUploadTime"));
  EXPECT_FALSE(UserValueExists("LastAttemptUploadTimeHex"));
}

TEST_F(CyclesTest, SyncCycleUploadsOnlyWhenNoJobIsPendingAndNothingWithoutBits) {
  updater_->stages = {2};
  EXPECT_TRUE(RunSyncCycle(context_, *updater_, *uploader_, record_));
  EXPECT_EQ(uploader_->runs, 0);
  updater_->stages = {0};
  EXPECT_FALSE(RunSyncCycle(context_, *updater_, *uploader_, record_));
  EXPECT_EQ(uploader_->runs, 1);

  updater_->calls.clear();
  provider_store::DeleteValue(nullptr, "LastAttemptUpdateTimeHex", true);
  PutUserDword("DisableDownload", 1);  // the upload still runs
  EXPECT_FALSE(RunSyncCycle(context_, *updater_, *uploader_, record_));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(uploader_->runs, 2);
  ExpectUpdateNotEnded();

  updater_->bits = false;
  EXPECT_FALSE(RunSyncCycle(context_, *updater_, *uploader_, record_));
  EXPECT_EQ(uploader_->runs, 2);
}

}  // namespace
