// One NetworkFetcher for a run: the documents of one server share one connection, and every fetch
// still applies its own limits (cap, redirects, status) on the connection it reuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/fetch.h"
#include "support/http_server.h"

namespace {

class FetchSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { server.SetKeepAlive(true); }

  FetchStatus Fetch(const std::string& path, const FetchLimits& limits = FetchLimits()) {
    return fetcher.Fetch(server.Url(path).c_str(), limits, body);
  }
  std::string Body() const { return std::string(body.begin(), body.end()); }

  TestHttpServer server;
  NetworkFetcher fetcher;
  std::vector<char> body;
};

}  // namespace

TEST_F(FetchSessionTest, ManyDocumentsShareOneConnection) {
  constexpr int kDocuments = 20;
  for (int i = 0; i < kDocuments; ++i) {
    server.AddFile("/doc" + std::to_string(i), "<d>" + std::to_string(i) + "</d>");
  }
  for (int i = 0; i < kDocuments; ++i) {
    ASSERT_EQ(Fetch("/doc" + std::to_string(i)), FetchStatus::kOk) << i;
    EXPECT_EQ(Body(), "<d>" + std::to_string(i) + "</d>");
  }
  EXPECT_EQ(server.ConnectionCount(), 1);
}

// Limits belong to each fetch: a refusal is not carried over to the next fetch, nor a generous
// limit to a stricter one, and the refusals leave the fetcher usable.
TEST_F(FetchSessionTest, EachFetchAppliesItsOwnLimits) {
  server.AddFile("/small", "12345678");
  server.AddFile("/large", std::string(64 * 1024, 'x'));
  server.AddRedirect("/hop", server.Url("/small"));
  server.AddStatus("/gone", 404);
  FetchLimits tight;
  tight.maxBytes = 1024;
  FetchLimits noRedirects;
  noRedirects.maxRedirects = 0;
  struct Step {
    const char* path;
    const FetchLimits* limits;
    FetchStatus expected;
  };
  const FetchLimits plain;
  const Step steps[] = {
      {"/large", &plain, FetchStatus::kOk}, {"/large", &tight, FetchStatus::kTooLarge},
      {"/small", &tight, FetchStatus::kOk}, {"/hop", &noRedirects, FetchStatus::kRedirectRefused},
      {"/hop", &plain, FetchStatus::kOk},   {"/gone", &plain, FetchStatus::kHttpError},
      {"/large", &plain, FetchStatus::kOk},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    EXPECT_EQ(Fetch(step.path, *step.limits), step.expected);
    if (step.expected != FetchStatus::kOk) {
      EXPECT_TRUE(body.empty());
    }
  }
  EXPECT_EQ(Body(), std::string(64 * 1024, 'x'));
}

// A server that closes the connection between documents (as the test server does by default)
// costs a new connection per document, never a failed fetch.
TEST_F(FetchSessionTest, ServerClosingConnectionsIsNoFailure) {
  server.SetKeepAlive(false);
  server.AddFile("/a", "a");
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Fetch("/a"), FetchStatus::kOk);
    EXPECT_EQ(Body(), "a");
  }
  EXPECT_EQ(server.ConnectionCount(), 3);
}
