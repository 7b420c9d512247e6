// FetchInto against Fetch on both targets: the same status under the same limits, the same bytes
// handed on, nothing of an error answer, and bytes handed on as they arrive, so a receiver that
// gives up ends the fetch at once.
#include "net/fetch.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/compression.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;
constexpr std::size_t kLargeBytes = 3 * kMiB;  // many read chunks on either client
constexpr std::size_t kSmallCap = 1000;

// Keeps what it is given; gives up once it holds `giveUpAt` bytes or more.
class Recorder : public ByteReceiver {
 public:
  explicit Recorder(std::size_t giveUpAt = std::numeric_limits<std::size_t>::max())
      : m_giveUpAt(giveUpAt) {}
  bool Receive(const char* data, std::size_t length) override {
    bytes.append(data, length);
    return bytes.size() < m_giveUpAt;
  }
  std::string bytes;

 private:
  std::size_t m_giveUpAt;
};

std::string Patterned(std::size_t size) {
  std::string data;
  data.reserve(size);
  for (unsigned i = 0; data.size() < size; ++i) data += static_cast<char>((i * 2654435761u) >> 24);
  return data;
}

struct Case {
  const char* name;
  std::string address;
  std::size_t maxBytes;
  FetchStatus expected;
};

}  // namespace

TEST(FetchIntoTest, SameStatusAndBytesAsFetch) {
  TestHttpServer server;
  TempDir dir;
  const std::string large = Patterned(kLargeBytes);
  server.AddFile("/large.bin", large, "application/octet-stream");
  server.AddFile("/exact", std::string(kSmallCap, 'x'));
  server.AddRedirect("/moved", "/large.bin");
  server.AddStatus("/error", 500);
  server.AddEncodedFile("/packed.bin", GzipCompress(large), "gzip");
  ASSERT_TRUE(WriteWholeFile(dir.Join("large.bin"), large));
  const std::size_t none = FetchLimits().maxBytes * 4;

  const std::vector<Case> cases = {
      {"http", server.Url("/large.bin"), none, FetchStatus::kOk},
      {"redirected", server.Url("/moved"), none, FetchStatus::kOk},
      {"compressed", server.Url("/packed.bin"), none, FetchStatus::kOk},
      {"exactly the cap", server.Url("/exact"), kSmallCap, FetchStatus::kOk},
      {"over the cap", server.Url("/large.bin"), kSmallCap, FetchStatus::kTooLarge},
      {"compressed over the cap", server.Url("/packed.bin"), kSmallCap, FetchStatus::kTooLarge},
      {"error answer", server.Url("/error"), none, FetchStatus::kHttpError},
      {"missing", server.Url("/missing"), none, FetchStatus::kHttpError},
      {"local file", dir.Join("large.bin"), none, FetchStatus::kOk},
      {"local file over the cap", dir.Join("large.bin"), kSmallCap, FetchStatus::kTooLarge},
      {"missing local file", dir.Join("missing.bin"), none, FetchStatus::kFileUnreadable},
  };
  NetworkFetcher fetcher;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchLimits limits;
    limits.maxBytes = c.maxBytes;
    std::vector<char> body;
    EXPECT_EQ(fetcher.Fetch(c.address.c_str(), limits, body), c.expected);
    Recorder received;
    EXPECT_EQ(fetcher.FetchInto(c.address.c_str(), limits, received), c.expected);
    if (c.expected == FetchStatus::kOk) {
      EXPECT_TRUE(received.bytes == std::string(body.begin(), body.end()));
      EXPECT_FALSE(received.bytes.empty());
    }
    // An error answer's body is the server's page, never the document.
    if (c.expected == FetchStatus::kHttpError) {
      EXPECT_TRUE(received.bytes.empty());
    }
  }
}

// Bytes reach the receiver as they arrive: one that gives up stops a body without end long before
// its cap, and a file long before its end.
TEST(FetchIntoTest, ReceiverThatGivesUpEndsTheFetch) {
  TestHttpServer server;
  server.AddEndless("/endless", "<documento><fichero>");
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.Join("large.bin"), Patterned(kLargeBytes)));
  FetchLimits limits;
  limits.maxBytes = 256 * kMiB;
  NetworkFetcher fetcher;
  for (const std::string& address : {server.Url("/endless"), dir.Join("large.bin")}) {
    SCOPED_TRACE(address);
    Recorder received(kMiB);
    EXPECT_EQ(fetcher.FetchInto(address.c_str(), limits, received), FetchStatus::kOutOfMemory);
    EXPECT_GE(received.bytes.size(), kMiB);
    EXPECT_LT(received.bytes.size(), 2 * kMiB);
  }
}

namespace {

// Records where each answer's body starts, as a staged download does.
class StartRecorder : public Recorder {
 public:
  bool Start(const BodyStart& start) override {
    starts.push_back(start);
    return true;
  }
  std::vector<BodyStart> starts;
};

}  // namespace

// Taking up a document: the range is asked only with a validator, granted only while the
// document still has it, and the receiver always learns where the body starts, so it can splice
// a 206 onto what it holds and replace what it holds with a 200.
TEST(FetchIntoTest, FetchFromResumesOnlyWhatStillMatches) {
  TestHttpServer server;
  const std::string body = Patterned(64 * 1024);
  server.AddResumableFile("/doc", body, TestHttpServer::Resumable());
  TestHttpServer::Resumable ignoring;
  ignoring.honourRanges = false;
  server.AddResumableFile("/ignoring", body, ignoring);
  TestHttpServer::Resumable weak;
  weak.etag = "W/\"v1\"";
  server.AddResumableFile("/weak", body, weak);
  constexpr std::uint64_t kHeld = 1000;
  struct FromCase {
    const char* name;
    const char* path;
    ResumePoint from;
    std::uint64_t startsAt;
    const char* validatorSeen;
  };
  const FromCase cases[] = {
      {"nothing held", "/doc", {0, ""}, 0, "\"v1\""},
      {"held, same validator", "/doc", {kHeld, "\"v1\""}, kHeld, "\"v1\""},
      {"held, document changed", "/doc", {kHeld, "\"v0\""}, 0, "\"v1\""},
      {"held, no validator", "/doc", {kHeld, ""}, 0, "\"v1\""},
      {"server ignores ranges", "/ignoring", {kHeld, "\"v1\""}, 0, "\"v1\""},
      {"weak ETag is no validator", "/weak", {0, ""}, 0, ""},
  };
  NetworkFetcher fetcher;
  for (const FromCase& c : cases) {
    SCOPED_TRACE(c.name);
    StartRecorder received;
    EXPECT_EQ(fetcher.FetchFrom(server.Url(c.path).c_str(), FetchLimits(), c.from, received),
              FetchStatus::kOk);
    ASSERT_EQ(received.starts.size(), 1u);
    EXPECT_EQ(received.starts[0].offset, c.startsAt);
    EXPECT_EQ(received.starts[0].validator, c.validatorSeen);
    EXPECT_TRUE(received.bytes == body.substr(static_cast<std::size_t>(c.startsAt)));
  }
  // A resumed request never asks for a compressed representation: the bytes held are decoded.
  StartRecorder received;
  fetcher.FetchFrom(server.Url("/doc").c_str(), FetchLimits(), ResumePoint{kHeld, "\"v1\""},
                    received);
  const std::string encoding = server.LastRequestHeader("/doc", "Accept-Encoding");
  EXPECT_TRUE(encoding.empty() || encoding == "identity") << encoding;
  // A range past the end is the server's error, and no start is told.
  StartRecorder past;
  EXPECT_EQ(fetcher.FetchFrom(server.Url("/doc").c_str(), FetchLimits(),
                              ResumePoint{body.size(), "\"v1\""}, past),
            FetchStatus::kHttpError);
  EXPECT_TRUE(past.starts.empty());
}
