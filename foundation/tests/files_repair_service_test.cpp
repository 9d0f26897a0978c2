// The repair-service request: its record, its one-message exchange over the provider's pipe,
// and the answer 1 when no service listens.
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

uint32_t Word(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

std::string Field(const uint8_t* at) { return std::string(reinterpret_cast<const char*>(at)); }

// A service that answers one request with a fixed result word and keeps what it received.
class FakeRepairService {
 public:
  explicit FakeRepairService(uint32_t answer) {
    EXPECT_TRUE(listener_.Listen("__RepairService_Pipe__prov", 1));
    thread_ = std::thread([this, answer] {
      platform::LocalMessageSocket client;
      if (!listener_.Accept(client) || !client.Receive(received_)) return;
      std::vector<uint8_t> reply(260, 0);
      std::memcpy(reply.data(), &answer, sizeof answer);
      client.Send(reply.data(), reply.size());
    });
  }
  ~FakeRepairService() {
    if (thread_.joinable()) thread_.join();
  }
  const std::vector<uint8_t>& Received() {
    thread_.join();
    return received_;
  }

 private:
  platform::LocalMessageListener listener_;
  std::thread thread_;
  std::vector<uint8_t> received_;
};

class RepairServiceTest : public FilesTest {
 protected:
  RepairServiceTest() {
    platform::InstallClock(&clock_);
    SetContextValue(context_names::kProviderId, "prov");
  }
  ~RepairServiceTest() override {
    if (requester_.joinable()) requester_.join();
    ClearContextStore();
    platform::InstallClock(nullptr);
  }
  // A service whose queue is full: a delete request on a thread of its own waits on the clock.
  void StartRequestToABusyService() {
    ASSERT_TRUE(listener_.Listen("__RepairService_Pipe__prov", 0));
    ASSERT_TRUE(occupant_.Connect("__RepairService_Pipe__prov"));  // fills the queue
    requester_ =
        std::thread([this] { result_ = SendRepairRequest(kRepairDeleteFile, "/busy", ""); });
    ASSERT_TRUE(clock_.WaitUntilWaiting(1, 10000));
  }
  platform::DrivenClock clock_;
  platform::LocalMessageListener listener_;
  platform::LocalMessageSocket occupant_;
  std::thread requester_;
  uint32_t result_ = 99;
};
}  // namespace

TEST_F(RepairServiceTest, TheRecordCarriesPathsWithinItsLimitsAndACheckOfItsTenSecondWindow) {
  RepairRecord record;
  ASSERT_TRUE(BuildRepairRecord("/data/a.txt", "/data/b.txt", 12345, record));
  EXPECT_EQ(Word(record.data()), 0u);
  EXPECT_EQ(Field(record.data() + 4), "/data/a.txt");
  EXPECT_EQ(Field(record.data() + 265), "/data/b.txt");

  RepairRecord signedPart = record;
  const uint32_t window = 10000;
  std::memcpy(signedPart.data(), &window, sizeof window);
  std::memset(signedPart.data() + 526, 0, 262);
  EXPECT_EQ(Field(record.data() + 526), Md5Hex(signedPart.data(), 526));
  EXPECT_EQ(record[526 + 32], 0);

  RepairRecord sameWindow;
  ASSERT_TRUE(BuildRepairRecord("/data/a.txt", "/data/b.txt", 19999, sameWindow));
  EXPECT_EQ(sameWindow, record);
  ASSERT_TRUE(BuildRepairRecord("/data/a.txt", "/data/b.txt", 20000, sameWindow));
  EXPECT_NE(sameWindow, record);

  EXPECT_FALSE(BuildRepairRecord("", "", 0, record));
  EXPECT_TRUE(BuildRepairRecord(std::string(260, 'a'), std::string(260, 'b'), 0, record));
  EXPECT_FALSE(BuildRepairRecord(std::string(261, 'a'), "", 0, record));
  EXPECT_FALSE(BuildRepairRecord("a", std::string(261, 'b'), 0, record));
}

TEST_F(RepairServiceTest, TheRequestTravelsAsOneMessageAndTheAnswerWordIsTheResult) {
  clock_.Advance(25000);
  FakeRepairService service(0);
  EXPECT_TRUE(RepairServiceRequest(kRepairCopyFile, "/from", "/to"));
  const std::vector<uint8_t>& message = service.Received();
  ASSERT_EQ(message.size(), 796u);
  EXPECT_EQ(Word(message.data()), 0u);
  EXPECT_EQ(Word(message.data() + 4), 788u);
  RepairRecord expected;
  ASSERT_TRUE(BuildRepairRecord("/from", "/to", 25000, expected));
  EXPECT_EQ(0, std::memcmp(message.data() + 8, expected.data(), expected.size()));

  // A service's refusal is the result.
  FakeRepairService refusing(5);
  EXPECT_EQ(SendRepairRequest(kRepairDeleteFile, "/locked", ""), 5u);
  EXPECT_EQ(Word(refusing.Received().data()), 1u);
}

TEST_F(RepairServiceTest, WithoutAServiceEveryRequestGivesOne) {
  EXPECT_EQ(SendRepairRequest(kRepairCreateDirectory, "/dir", ""), 1u);
  EXPECT_FALSE(RepairServiceRequest(kRepairDeleteFile, "/file"));
}

TEST_F(RepairServiceTest, ABusyServiceIsWaitedForUntilItTakesTheRequest) {
  StartRequestToABusyService();
  platform::LocalMessageSocket first;
  ASSERT_TRUE(listener_.Accept(first));
  clock_.Advance(1000);
  platform::LocalMessageSocket second;
  ASSERT_TRUE(listener_.Accept(second));
  std::vector<uint8_t> request;
  ASSERT_TRUE(second.Receive(request));
  const std::vector<uint8_t> answer(260, 0);
  ASSERT_TRUE(second.Send(answer.data(), answer.size()));
  requester_.join();
  EXPECT_EQ(result_, 0u);
  EXPECT_EQ(Field(request.data() + 8 + 4), "/busy");
}

TEST_F(RepairServiceTest, AServiceBusyForTwentySecondsGivesOne) {
  StartRequestToABusyService();
  clock_.Advance(kRepairPipeBusyWaitMs);
  requester_.join();
  EXPECT_EQ(result_, 1u);
}

// The check text's digest against the reference vectors, whole and fed in odd pieces.
TEST(Md5Test, MatchesTheReferenceDigests) {
  EXPECT_EQ(Md5Hex("", 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc", 3), "900150983cd24fb0d6963f7d28e17f72");
  const std::string digits =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  EXPECT_EQ(Md5Hex(digits.data(), digits.size()), "57edf4a22be3c955ac49da2e2107b67a");
  Md5 pieces;
  for (size_t at = 0; at < digits.size(); at += 7) {
    pieces.Update(digits.data() + at, std::min<size_t>(7, digits.size() - at));
  }
  EXPECT_EQ(pieces.FinishHex(), "57edf4a22be3c955ac49da2e2107b67a");
}
