// Tests of the fetch policy shared by both targets (schemes, redirects, status, size cap, stall
// time-out, local files) against a real loopback HTTP server, and of XmlDocument loads that fail.
#include "net/fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/http_server.h"
#include "support/marked_buffer.h"
#include "support/temp_dir.h"
#include "xml/xml_document.h"

namespace {

// Bytes that a text-mode or string-based transfer would alter: CR LF, NUL, Ctrl-Z, high bytes.
const char kAwkwardRaw[] = "<r>a\r\nb\n\0c\x1a\xff\xfe</r>\r\n";
const std::string kAwkwardBytes(kAwkwardRaw, sizeof kAwkwardRaw - 1);

std::string AsString(const std::vector<char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// "file:///C:/dir/x.xml" for "C:\dir\x.xml", "file:///tmp/x.xml" for "/tmp/x.xml".
std::string FileUrl(const std::string& path) {
  std::string url = "file://";
  if (path.empty() || path[0] != '/') url += '/';
  for (char c : path) url += c == '\\' ? '/' : c;
  return url;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class FetchTest : public ::testing::Test {
 protected:
  FetchStatus Fetch(const std::string& address) {
    body.assign({'o', 'l', 'd'});
    return FetchAddress(address.c_str(), limits, body);
  }

  // /chainN/0 -> /chainN/1 -> ... -> /chainN/<hops>, which serves "end".
  std::string AddRedirectChain(int hops) {
    std::string base = "/chain" + std::to_string(hops) + "/";
    for (int i = 0; i < hops; ++i) {
      server.AddRedirect(base + std::to_string(i), server.Url(base + std::to_string(i + 1)));
    }
    server.AddFile(base + std::to_string(hops), "end");
    return base;
  }

  TestHttpServer server;
  FetchLimits limits;
  std::vector<char> body;
};

}  // namespace

TEST_F(FetchTest, HttpBodyArrivesByteForByte) {
  server.AddFile("/awkward.bin", kAwkwardBytes, "application/octet-stream");
  std::string large;
  for (unsigned i = 0; large.size() < 3u * 1024u * 1024u; ++i) {
    large += static_cast<char>((i * 2654435761u) >> 24);
  }
  server.AddFile("/large.bin", large, "application/octet-stream");

  EXPECT_EQ(Fetch(server.Url("/awkward.bin")), FetchStatus::kOk);
  EXPECT_EQ(AsString(body), kAwkwardBytes);
  EXPECT_EQ(Fetch(server.Url("/large.bin")), FetchStatus::kOk);
  EXPECT_TRUE(AsString(body) == large) << "large body differs (" << body.size() << " bytes)";
}

TEST_F(FetchTest, StatusFrom400UpFailsAndEmptiesBody) {
  server.AddStatus("/bad", 400);
  server.AddStatus("/error", 500);
  for (const char* path : {"/bad", "/missing", "/error"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Fetch(server.Url(path)), FetchStatus::kHttpError);
    EXPECT_TRUE(body.empty());
  }
}

// libcurl answers a header past its limit with its out-of-memory code; that is one bad answer,
// never the run's own memory running out (which would abandon everything after it).
TEST_F(FetchTest, AHugeResponseHeaderIsNeverOutOfMemory) {
  server.AddFileWithHeader("/cookie.xml", "<r/>", "Set-Cookie",
                           "c=" + std::string(std::size_t{1024} * 1024, 'x'));
  const FetchStatus status = Fetch(server.Url("/cookie.xml"));
  EXPECT_NE(status, FetchStatus::kOutOfMemory);
  EXPECT_EQ(AsString(body), status == FetchStatus::kOk ? "<r/>" : "");
}

// A server that sends a byte now and then never stalls, so only the whole fetch's own deadline
// ends it: with 1 s given, well before the drip would reach its announced length.
TEST_F(FetchTest, TotalTimeOutEndsADripOfItsOwn) {
  server.AddDrip("/drip.xml", "<r>", 100);
  limits.totalTimeoutSeconds = 1;
  EXPECT_EQ(Fetch(server.Url("/drip.xml")), FetchStatus::kDeadlineExceeded);
  EXPECT_TRUE(body.empty());
}

TEST_F(FetchTest, RefusedConnectionFailsQuickly) {
  int port = UnusedLoopbackPort();
  ASSERT_NE(port, 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(port) + "/act.xml"),
            FetchStatus::kConnectFailed);
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_TRUE(body.empty());
}

TEST_F(FetchTest, FollowsRedirectChainOfAbsoluteAndRelativeLocations) {
  server.AddRedirect("/r1", server.Url("/r2"), 301);
  server.AddRedirect("/r2", "/r3", 302);
  server.AddRedirect("/r3", "/final.xml", 307);
  server.AddFile("/final.xml", "<final/>");
  EXPECT_EQ(Fetch(server.Url("/r1")), FetchStatus::kOk);
  EXPECT_EQ(AsString(body), "<final/>");
  for (const char* path : {"/r1", "/r2", "/r3", "/final.xml"}) {
    EXPECT_EQ(server.RequestCount(path), 1) << path;
  }
}

TEST_F(FetchTest, FiveRedirectsAreFollowedSixAreRefused) {
  std::string five = AddRedirectChain(5);
  EXPECT_EQ(Fetch(server.Url(five + "0")), FetchStatus::kOk);
  EXPECT_EQ(AsString(body), "end");

  std::string six = AddRedirectChain(6);
  EXPECT_EQ(Fetch(server.Url(six + "0")), FetchStatus::kRedirectRefused);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(server.RequestCount(six + "5"), 1);
  EXPECT_EQ(server.RequestCount(six + "6"), 0);
}

// A server must not be able to send the updater to another protocol or to the local disk.
TEST_F(FetchTest, RedirectToOtherSchemeIsRefused) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.Join("secret.xml"), "<secret/>"));
  server.AddRedirect("/to-ftp", "ftp://127.0.0.1/act.xml");
  server.AddRedirect("/to-file", FileUrl(dir.Join("secret.xml")));
  for (const char* path : {"/to-ftp", "/to-file"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Fetch(server.Url(path)), FetchStatus::kRedirectRefused);
    EXPECT_TRUE(body.empty());
  }
}

TEST_F(FetchTest, SizeCapAllowsExactlyMaxBytes) {
  limits.maxBytes = 1000;
  server.AddFile("/exact", std::string(1000, 'x'));
  server.AddFile("/over", std::string(1001, 'x'));
  EXPECT_EQ(Fetch(server.Url("/exact")), FetchStatus::kOk);
  EXPECT_EQ(body.size(), 1000u);
  EXPECT_EQ(Fetch(server.Url("/over")), FetchStatus::kTooLarge);
  EXPECT_TRUE(body.empty());

  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.Join("exact.xml"), std::string(1000, 'y')));
  ASSERT_TRUE(WriteWholeFile(dir.Join("over.xml"), std::string(1001, 'y')));
  EXPECT_EQ(Fetch(dir.Join("exact.xml")), FetchStatus::kOk);
  EXPECT_EQ(body.size(), 1000u);
  EXPECT_EQ(Fetch(dir.Join("over.xml")), FetchStatus::kTooLarge);
  EXPECT_TRUE(body.empty());
}

TEST_F(FetchTest, StalledTransferIsAbandoned) {
  server.AddStall("/slow.xml", "<actualizacion>", 30);
  limits.stallTimeoutSeconds = 2;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch(server.Url("/slow.xml")), FetchStatus::kStalled);
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_TRUE(body.empty());
}

TEST_F(FetchTest, LocalPathAndFileUrlReadFromDisk) {
  TempDir dir;
  std::string path = dir.Join("act.xml");
  ASSERT_TRUE(WriteWholeFile(path, kAwkwardBytes));
  EXPECT_EQ(Fetch(path), FetchStatus::kOk);
  EXPECT_EQ(AsString(body), kAwkwardBytes);
  EXPECT_EQ(Fetch(FileUrl(path)), FetchStatus::kOk) << FileUrl(path);
  EXPECT_EQ(AsString(body), kAwkwardBytes);

  for (const std::string& missing : {dir.Join("missing.xml"), FileUrl(dir.Join("missing.xml"))}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(Fetch(missing), FetchStatus::kFileUnreadable);
    EXPECT_TRUE(body.empty());
  }
}

TEST_F(FetchTest, UnsupportedSchemeIsRefused) {
  for (const char* address : {"ftp://127.0.0.1/act.xml", "gopher://127.0.0.1/act.xml"}) {
    SCOPED_TRACE(address);
    EXPECT_EQ(Fetch(address), FetchStatus::kUnsupportedAddress);
    EXPECT_TRUE(body.empty());
  }
}

TEST_F(FetchTest, DocumentLoadFailsOnHttpErrorAndOnContentThatIsNotXml) {
  server.AddFile("/page.html", "<html><body>Servicio no disponible<br></body></html>", "text/html");
  XmlDocument document;
  EXPECT_FALSE(document.Load(server.Url("/missing.xml").c_str(), true));
  EXPECT_EQ(document.GetLastFetchStatus(), FetchStatus::kHttpError);
  MarkedBuffer buffer(32);
  EXPECT_EQ(document.GetValue("body", buffer.Data(), buffer.Size()), 0);
  EXPECT_TRUE(buffer.Untouched());

  EXPECT_FALSE(document.Load(server.Url("/page.html").c_str(), true));
  EXPECT_EQ(document.GetLastFetchStatus(), FetchStatus::kOk);
  EXPECT_FALSE(document.Exists("html"));
}

TEST_F(FetchTest, DocumentLoadHonoursFetchLimitsAndReadsLocalFiles) {
  server.AddFile("/act.xml", "<actualizacion><version>2.5</version></actualizacion>");
  XmlDocument document;
  FetchLimits small;
  small.maxBytes = 20;
  document.SetFetchLimits(small);
  EXPECT_FALSE(document.Load(server.Url("/act.xml").c_str(), true));
  EXPECT_EQ(document.GetLastFetchStatus(), FetchStatus::kTooLarge);

  document.SetFetchLimits(FetchLimits());
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.Join("act.xml"), "<a><version>3.0</version></a>"));
  for (const std::string& address : {dir.Join("act.xml"), FileUrl(dir.Join("act.xml"))}) {
    SCOPED_TRACE(address);
    ASSERT_TRUE(document.Load(address.c_str(), true));
    MarkedBuffer version(32);
    EXPECT_EQ(document.GetValue("version", version.Data(), version.Size()), 3);
    EXPECT_EQ(version.Text(), "3.0");
  }
}
