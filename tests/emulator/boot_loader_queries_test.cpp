// The three queries a boot-loader tracker answers, and the request bytes the tests build.

#include <gtest/gtest.h>

#include "SimTestClient.h"

namespace simtest {
namespace {

// The tests' own request builder must produce the frames the protocol documents, or every
// other test here would prove nothing.
TEST(TestRequestBuilder, MatchesDocumentedFrames) {
  EXPECT_EQ(Request(4), (Bytes{0x0E, 0, 0x0E, 0, 4, 0, 0x0A, 0, 0, 0, 0, 0, 0x2A, 0}));
  EXPECT_EQ(Request(6, 4, 0x4000),
            (Bytes{0x0E, 0, 0x0E, 0, 6, 0, 4, 0, 0, 0x40, 0, 0, 0x26, 0x40}));
  EXPECT_EQ(Request(11), (Bytes{0x0E, 0, 0x0E, 0, 0x0B, 0, 0x0A, 0, 0, 0, 0, 0, 0x31, 0}));
  EXPECT_EQ(Sum16({0xFF, 0xFF, 0xFF}), 0x00FF);
  EXPECT_EQ(Sum16({1, 2, 3, 4, 5, 6}), 0x0C09);
}

struct QueryCase {
  uint16_t code;
  Bytes payload;
};

class BootLoaderQuery : public HostTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(BootLoaderQuery, AnswersWithDoneAndPayload) {
  const std::string serial = AddTracker("serial=4242,fw=ZOZI-9.01,boot=BOOT-1.04PP,cpu=0x400FE000");
  auto client = Connect(serial);
  const Reply reply = client->Exchange(Request(GetParam().code));
  ASSERT_GE(reply.bytes.size(), 14u);
  EXPECT_EQ(reply.header(), 14);
  EXPECT_EQ(reply.code(), 128);
  EXPECT_EQ(reply.total(), reply.bytes.size());
  EXPECT_GT(reply.total(), 14);
  EXPECT_EQ(reply.sector(), 10);
  EXPECT_EQ(Bytes(reply.bytes.begin() + 14, reply.bytes.end()), GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, BootLoaderQuery,
    ::testing::Values(QueryCase{4, Bytes{'Z', 'O', 'Z', 'I', '-', '9', '.', '0', '1', 0}},
                      QueryCase{5, Bytes{'B', 'O', 'O', 'T', '-', '1', '.', '0', '4', 'P', 'P', 0}},
                      QueryCase{10, Bytes{0x00, 0xE0, 0x0F, 0x40}}));

TEST_F(HostTest, BootLoaderIgnoresTextCommands) {
  const std::string serial = AddTracker("serial=77");
  auto client = Connect(serial);
  ASSERT_TRUE(client->Send(Text("FL_READ_VERSION$")));
  // The first bytes back must be the answer to the frame, not to the text.
  const Reply reply = client->Exchange(Request(5));
  EXPECT_EQ(reply.code(), 128);
  EXPECT_EQ(reply.PayloadText(), "BOOT-1.05");
  ASSERT_TRUE(host_->WaitRequests(serial, 1));
  EXPECT_EQ(host_->Requests(serial).size(), 1u);
}

}  // namespace
}  // namespace simtest
