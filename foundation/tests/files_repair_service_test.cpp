// The repair-service request: its record, its one-message exchange over the provider's pipe,
// and the answer 1 when no service listens or a busy one never takes it.
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "files_test_support.h"
#include "foundation/context/context_names.h"
#include "foundation/context/context_store.h"
#include "foundation/files/md5.h"
#include "foundation/files/repair_service.h"
#include "platform/clock.h"
#include "platform/local_socket.h"

namespace {

std::vector<uint8_t> Bytes(const RepairRecord& record) { return {record.begin(), record.end()}; }

class RepairServiceTest : public FilesTest {
 protected:
  RepairServiceTest() {
    platform::InstallClock(&clock_);
    SetContextValue(context_names::kProviderId, "prov");
  }
  ~RepairServiceTest() override {
    ClearContextStore();
    platform::InstallClock(nullptr);
  }
  platform::DrivenClock clock_;
};

}  // namespace

TEST_F(RepairServiceTest, TheRecordCarriesPathsWithinItsLimitsAndACheckOfItsTenSecondWindow) {
  RepairRecord record;
  ASSERT_TRUE(BuildRepairRecord("/data/a.txt", "/data/b.txt", 12345, record));
  EXPECT_EQ(WordAt(Bytes(record), 0), 0u);
  EXPECT_EQ(TextAt(Bytes(record), 4), "/data/a.txt");
  EXPECT_EQ(TextAt(Bytes(record), 265), "/data/b.txt");
  RepairRecord signedPart = record;
  const uint32_t window = 10000;
  std::memcpy(signedPart.data(), &window, sizeof window);
  EXPECT_EQ(TextAt(Bytes(record), 526), Md5Hex(signedPart.data(), 526));
  EXPECT_EQ(record[526 + 32], 0);

  RepairRecord other;
  for (const auto& [tick, same] : {std::pair{19999u, true}, {20000u, false}, {9999u, false}}) {
    ASSERT_TRUE(BuildRepairRecord("/data/a.txt", "/data/b.txt", tick, other));
    EXPECT_EQ(other == record, same) << tick;
  }
  EXPECT_FALSE(BuildRepairRecord("", "", 0, record));
  EXPECT_TRUE(BuildRepairRecord(std::string(260, 'a'), std::string(260, 'b'), 0, record));
  EXPECT_FALSE(BuildRepairRecord(std::string(261, 'a'), "", 0, record));
  EXPECT_FALSE(BuildRepairRecord("a", std::string(261, 'b'), 0, record));
}

TEST_F(RepairServiceTest, TheRequestTravelsAsOneMessageAndTheAnswerWordIsTheResult) {
  clock_.Advance(25000);
  for (const uint32_t answer : {0u, 5u}) {
    FakeRepairService service(answer);
    EXPECT_EQ(SendRepairRequest(kRepairCopyFile, "/from", "/to"), answer);
    const std::vector<uint8_t>& message = service.Received();
    ASSERT_EQ(message.size(), 796u);
    EXPECT_EQ(WordAt(message, 0), 0u);
    EXPECT_EQ(WordAt(message, 4), 788u);
    RepairRecord expected;
    ASSERT_TRUE(BuildRepairRecord("/from", "/to", 25000, expected));
    EXPECT_EQ(0, std::memcmp(message.data() + 8, expected.data(), expected.size()));
  }
  // Without a service every request gives 1.
  EXPECT_EQ(SendRepairRequest(kRepairCreateDirectory, "/dir", ""), 1u);
  EXPECT_FALSE(RepairServiceRequest(kRepairDeleteFile, "/file"));
}

TEST_F(RepairServiceTest, ABusyServiceIsWaitedForTwentySecondsAtMost) {
  for (const bool takesIt : {true, false}) {
    platform::LocalMessageListener listener;
    platform::LocalMessageSocket occupant;
    ASSERT_TRUE(listener.Listen("__RepairService_Pipe__prov", 0));
    ASSERT_TRUE(occupant.Connect("__RepairService_Pipe__prov"));  // fills the queue
    uint32_t result = 99;
    std::thread requester([&] { result = SendRepairRequest(kRepairDeleteFile, "/busy", ""); });
    ASSERT_TRUE(clock_.WaitUntilWaiting(1, 10000));
    std::vector<uint8_t> request;
    if (takesIt) {
      platform::LocalMessageSocket first;
      ASSERT_TRUE(listener.Accept(first));
      clock_.Advance(1000);
      platform::LocalMessageSocket second;
      ASSERT_TRUE(listener.Accept(second));
      ASSERT_TRUE(second.Receive(request));
      const std::vector<uint8_t> answer(260, 0);
      ASSERT_TRUE(second.Send(answer.data(), answer.size()));
    } else {
      clock_.Advance(kRepairPipeBusyWaitMs);
    }
    requester.join();
    EXPECT_EQ(result, takesIt ? 0u : 1u);
    EXPECT_EQ(request.empty() ? "" : TextAt(request, 8 + 4), takesIt ? "/busy" : "");
  }
}

// The check text's digest against the reference vectors, whole and fed in odd pieces.
TEST(Md5Test, MatchesTheReferenceDigests) {
  EXPECT_EQ(Md5Hex("", 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc", 3), "900150983cd24fb0d6963f7d28e17f72");
  const std::string digits =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  Md5 pieces;
  for (size_t at = 0; at < digits.size(); at += 7) {
    pieces.Update(digits.data() + at, std::min<size_t>(7, digits.size() - at));
  }
  EXPECT_EQ(pieces.FinishHex(), "57edf4a22be3c955ac49da2e2107b67a");
}
