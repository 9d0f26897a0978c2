// Update and upload cycle bookkeeping against doubles of the updater and the uploader: the
// stage driver's paths, the direct path, the upload ratio and switches, and what is recorded.
#include <deque>
#include <memory>
#include <optional>
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
using CallList = std::vector<std::string>;

// What the scripted updater answers, and what one drive of the stage driver must show.
struct DriveCase {
  const char* what;
  std::deque<int> stages{0};  // successive stages; the last one repeats
  int updateStatus = 0;
  int downloadCount = 0;
  int completeStatus = 0;
  int requestCount = 0;
  int requestsDone = 0;
  bool reload = false;
  std::optional<int64_t> startedSecondsAgo{};  // the recorded start of the BITS update
  int result = 0;
  CallList calls{};                    // empty: not checked
  std::vector<CapturedLogLine> lines{};  // logged in this order
  std::vector<std::string> notLogged{};  // prefixes
  std::optional<int> endedWith{};      // the update ended with this code
  int newDataPosts = 0;
  bool startStamped = false;  // the BITS update start became now
};

void PrintTo(const DriveCase& c, std::ostream* out) { *out << c.what; }

// Answers the driver's calls from a DriveCase and records them in order.
class ScriptedUpdater : public NoltUpdater {
 public:
  ScriptedUpdater() : NoltUpdater("prov", "http://host/path") {}

  DriveCase script;
  int directStatus = 0;
  bool bits = true;
  CallList calls;

  int GetBitsDownloadState(HxStr* jobId, HxStr* state, HxStr*) override {
    calls.push_back("state");
    const int stage = script.stages.front();
    if (script.stages.size() > 1) script.stages.pop_front();
    if (jobId) *jobId = "{JOB}";
    if (state) *state = "TRANSFERRING";
    return stage;
  }
  int Update(int* count) override {
    calls.push_back("update");
    *count = script.downloadCount;
    return script.updateStatus;
  }
  int CompleteBitsJob(int* total, int* done, bool finishNow) override {
    calls.push_back(finishNow ? "complete-now" : "complete");
    *total = script.requestCount;
    *done = script.requestsDone;
    return script.completeStatus;
  }
  int DoUpdate() override {
    calls.push_back("direct");
    return directStatus;
  }
  bool IsContextReloadNeeded() const override { return script.reload; }
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
    ClearLog();
  }

  void UseCommandAgent(bool inCommandAgent) {
    context_.runContext = std::make_unique<RunContext>(
        !inCommandAgent, !inCommandAgent, inCommandAgent, false, false, kUser, kProvider);
  }
  // The update was recorded as ended with `code`, or not ended at all.
  void ExpectUpdateEnded(std::optional<int> code) {
    EXPECT_EQ(UserValueExists("LastAttemptUpdateTimeHex"), code.has_value());
    if (!code) return;
    EXPECT_EQ(UserDword("LastUpdateErrCode"), static_cast<uint32_t>(*code));
    EXPECT_EQ(UserDword("UpdateFailureCount"), *code == 0 ? 0u : 1u);
  }
  void StoreBitsStart(int64_t secondsAgo) {
    sync_state::WriteHexTime(sync_state::kLastBitsUpdateStartTime,
                             Now().Add(-secondsAgo * HxTime::kSecond));
  }
  bool SyncCycle() { return RunSyncCycle(context_, updater_, uploader_, record_); }

  ModletContext context_;
  SyncNotifyRecord record_{};
  ScriptedUpdater updater_;
  CountingUploader uploader_;
};

class StageDriverTest : public CyclesTest, public ::testing::WithParamInterface<DriveCase> {};

TEST_P(StageDriverTest, DrivesOneStage) {
  const DriveCase& c = GetParam();
  updater_.script = c;
  SetSync("MaxUpdateTimeOut", "1");  // one hour
  if (c.startedSecondsAgo) StoreBitsStart(*c.startedSecondsAgo);
  ClearLog();
  EXPECT_EQ(UpdateStageDriver(context_, updater_, record_), c.result);
  EXPECT_TRUE(c.calls.empty() || updater_.calls == c.calls);
  EXPECT_TRUE(LoggedInOrder(c.lines));
  for (const std::string& prefix : c.notLogged) EXPECT_EQ(CountLogged(prefix), 0) << prefix;
  ExpectUpdateEnded(c.endedWith);
  EXPECT_EQ(CountLogged(kNewDataPost), c.newDataPosts);
  if (c.startStamped) {
    EXPECT_EQ(StoredTime("LastBitsUpdateStartTime").FileTime(), Now().FileTime());
    EXPECT_TRUE(UserValueExists("LastBitsUpdateStartTime"));
  }
}

// clang-format off
const DriveCase kDriveCases[] = {
    {.what = "stage 1 with downloads stays pending", .stages = {0, 2}, .downloadCount = 4,
     .result = 1, .calls = {"state", "update", "state"},
     .lines = {{2, "Update stage 1 starts...\n"}, {1, "Download count 4\n"},
               {1, "New sync state: stage=2 state=TRANSFERRING\n"}},
     .startStamped = true},
    {.what = "stage 1 with nothing to download ends", .updateStatus = 11,
     .lines = {{8, "Update stage 1 failure: status=11\n"},
               {2, "Update Failed...Error code: 11, Failure count: 1\n"}},
     .endedWith = 11},
    {.what = "a pending content job is no stage 1 failure", .updateStatus = 28,
     .notLogged = {"Update stage 1 failure"}, .endedWith = 28},
    {.what = "stage 2 within the time-out polls again", .stages = {2},
     .startedSecondsAgo = 3000, .result = 2, .calls = {"state"},
     .lines = {{1, "Past due time 3000 is lesser than the threshold 3600\n"},
               {2, "Update stage 2 progress: BITS ID={JOB} stats=TRANSFERRING\n"}}},
    {.what = "an overdue stage 2 is finished and a new update starts", .stages = {2, 0},
     .requestCount = 5, .requestsDone = 1, .reload = true, .startedSecondsAgo = 3600,
     .calls = {"state", "complete-now", "update", "state"},
     .lines = {{1, "Past due time 3600 is greater than the threshold 3600\n"},
               {1, "Exceeded past due Sync time. Finishing the current BITS job {JOB} with "
                   "state TRANSFERRING\n"},
               {2, "Partial completion of BITS job...\n"}, {1, "Reloading context...\n"},
               {2, "Update Failed...Error code: 29, Failure count: 1\n"},
               {2, "Update stage 1 starts...\n"}},
     .endedWith = 0, .startStamped = true},
    {.what = "stage 3 partly done ends the update", .stages = {3}, .requestCount = 5,
     .requestsDone = 3, .result = 2,
     .lines = {{2, "Update stage 3 progress: BITS ID={JOB} stats=TRANSFERRING\n"},
               {2, "Partial completion of BITS job...\n"}},
     .endedWith = 0},
    {.what = "one request left is no partial completion", .stages = {3}, .requestCount = 5,
     .requestsDone = 4, .notLogged = {"Partial completion"}, .endedWith = 0},
    {.what = "the manifest job done waits for the content job", .stages = {3, 2},
     .completeStatus = 27, .result = 2,
     .lines = {{2, "Done with Manifest download. Going to wait for profile/content download "
                   "to finish\n"}}},
    {.what = "the manifest job done without content completes", .stages = {3, 0},
     .completeStatus = 27,
     .lines = {{2, "Done with Manifest download. No contents to download\n"},
               {1, "Total completion of BITS job...\n"}, {2, "Update Successful...\n"}},
     .endedWith = 0},
    {.what = "content still downloading polls a fresh stage", .stages = {3, 2},
     .completeStatus = 28, .result = 2, .calls = {"state", "complete", "state"},
     .lines = {{1, "Content download in progress. Lets poll again\n"}}},
    {.what = "total completion with new content reloads and announces", .stages = {3},
     .reload = true,
     .lines = {{1, "Reloading context...\n"}, {1, "Total completion of BITS job...\n"}},
     .endedWith = 0, .newDataPosts = 1},
    {.what = "total completion with a failure announces nothing", .stages = {3},
     .completeStatus = 22, .endedWith = 22},
    {.what = "stage 1 does nothing", .stages = {1}, .calls = {"state"}},
    {.what = "stage 4 does nothing", .stages = {4}, .calls = {"state"}},
    {.what = "stage -1 does nothing", .stages = {-1}, .calls = {"state"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Paths, StageDriverTest, ::testing::ValuesIn(kDriveCases));

TEST_F(CyclesTest, OnlyARecordedStartInThePastCanBeOverdue) {
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

TEST_F(CyclesTest, UpdateEndRecordsCountsAndTimes) {
  UpdateProcessEnd(6);
  UpdateProcessEnd(6);
  EXPECT_EQ(UserDword("UpdateFailureCount"), 2u);
  EXPECT_FALSE(UserValueExists("LastSuccessUpdateTime"));
  AdvanceSeconds(60);
  UpdateProcessEnd(0);
  ExpectUpdateEnded(0);
  EXPECT_EQ(StoredTime("LastAttemptUpdateTime").FileTime(), Now().FileTime());
  std::string success;
  ASSERT_TRUE(UserString("LastSuccessUpdateTime", success));
  EXPECT_EQ(success, std::string(Now().Readable().c_str()));
  EXPECT_FALSE(UserValueExists("LastSuccessUpdateTimeHex"));
  EXPECT_TRUE(Logged("Update process ends...currentTime: " + success + "\n", 2));
}

TEST_F(CyclesTest, DirectPathRecordsTheUpdatersStatusUnlessDownloadIsDisabled) {
  updater_.directStatus = 4;
  updater_.script.reload = true;
  RunUpdateCycle(context_, updater_, record_);
  EXPECT_EQ(updater_.calls, (CallList{"direct"}));
  EXPECT_EQ(CountLogged("Update process starts...currentTime: "), 1);
  EXPECT_EQ(CountLogged(kNewDataPost), 1);
  ExpectUpdateEnded(4);

  PutUserDword("DisableDownload", 1);
  updater_.calls.clear();
  RunUpdateCycle(context_, updater_, record_);
  EXPECT_TRUE(updater_.calls.empty());
  EXPECT_TRUE(LoggedInOrder(
      {{1, "DisableDownload Flag Set in User context...\n"}, {2, "Update Successful...\n"}}));
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
  EXPECT_TRUE(LoggedInOrder({{2, "NeedUpload: NO (2/3)\n"}, {2, "NeedUpload: YES (3/3)\n"}}));

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
  uploader_.result = 17;
  RunUploadCycle(uploader_);
  RunUploadCycle(uploader_);
  EXPECT_EQ(uploader_.runs, 2);
  EXPECT_EQ(UserDword("UploadFailureCount"), 2u);
  EXPECT_EQ(UserDword("LastUploadErrCode"), 17u);
  EXPECT_TRUE(Logged("Upload Failed...Error code: 17, Failure count: 2\n", 2));
  EXPECT_TRUE(UserValueExists("LastAttemptUploadTime"));
  EXPECT_FALSE(UserValueExists("LastSuccessUploadTime"));

  uploader_.result = 0;
  RunUploadCycle(uploader_);
  EXPECT_EQ(UserDword("UploadFailureCount"), 0u);
  EXPECT_EQ(UserDword("LastUploadErrCode"), 0u);
  EXPECT_TRUE(UserValueExists("LastSuccessUploadTime"));
  EXPECT_FALSE(UserValueExists("LastAttemptUploadTimeHex"));
}

TEST_F(CyclesTest, SyncCycleUploadsOnlyWhenNoJobIsPendingAndNothingWithoutBits) {
  updater_.script.stages = {2};
  EXPECT_TRUE(SyncCycle());
  EXPECT_EQ(uploader_.runs, 0);
  updater_.script.stages = {0};
  EXPECT_FALSE(SyncCycle());
  EXPECT_EQ(uploader_.runs, 1);

  updater_.calls.clear();
  provider_store::DeleteValue(nullptr, "LastAttemptUpdateTimeHex", true);
  PutUserDword("DisableDownload", 1);  // the upload still runs
  EXPECT_FALSE(SyncCycle());
  EXPECT_TRUE(updater_.calls.empty());
  EXPECT_EQ(uploader_.runs, 2);
  ExpectUpdateEnded(std::nullopt);

  updater_.bits = false;
  EXPECT_FALSE(SyncCycle());
  EXPECT_EQ(uploader_.runs, 2);
}

}  // namespace
