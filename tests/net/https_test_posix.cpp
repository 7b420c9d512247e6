// HTTPS against a loopback server whose certificate a throw-away authority signed: trusted, it
// is fetched; untrusted, refused; and a document asked for over https never arrives over http.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/fetch.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace {

// The authority and the server's certificate for 127.0.0.1, made with the openssl command.
bool MakeCertificates(const TempDir& dir) {
  const std::string d = dir.Join("");
  const std::string commands =
      "cd '" + d +
      "' && "
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=test-ca "
      "-keyout ca.key -out ca.pem && "
      "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key "
      "-out server.csr && "
      "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 "
      "-extfile san.ext -out server.pem";
  return std::system((commands + " >/dev/null 2>&1").c_str()) == 0;
}

class HttpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MakeCertificates(m_temp)) GTEST_SKIP() << "the openssl command is not available";
    m_plain.AddFile("/doc.xml", "<d>over plain http</d>");
    StartServer();
  }
  void TearDown() override {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  void StartServer() {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    const std::string script = std::string(MUBAX_TEST_SUPPORT_DIR) + "/tls_server.py";
    std::vector<std::string> args = {"/usr/bin/python3", script, m_temp.Join("server.pem"),
                                     m_temp.Join("server.key"), m_plain.Url("/doc.xml")};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    FILE* output = ::fdopen(pipeEnds[0], "r");
    ASSERT_NE(output, nullptr);
    int port = 0;
    ASSERT_EQ(std::fscanf(output, "%d", &port), 1);
    std::fclose(output);
    m_base = "https://127.0.0.1:" + std::to_string(port);
  }

  TempDir m_temp;
  TestHttpServer m_plain;
  pid_t m_pid = -1;
  std::string m_base;
  FetchLimits m_limits;
  std::vector<char> m_body;
};

TEST_F(HttpsTest, TrustedAuthorityIsFetchedUntrustedIsRefused) {
  NetworkFetcher trusting(m_temp.Join("ca.pem"));
  ASSERT_EQ(trusting.Fetch((m_base + "/doc.xml").c_str(), m_limits, m_body), FetchStatus::kOk);
  EXPECT_EQ(std::string(m_body.begin(), m_body.end()), "<d>over https</d>");

  NetworkFetcher systemStore;
  EXPECT_EQ(systemStore.Fetch((m_base + "/doc.xml").c_str(), m_limits, m_body),
            FetchStatus::kConnectFailed);
  EXPECT_TRUE(m_body.empty());
}

TEST_F(HttpsTest, RedirectsStayOnHttps) {
  NetworkFetcher trusting(m_temp.Join("ca.pem"));
  EXPECT_EQ(trusting.Fetch((m_base + "/up").c_str(), m_limits, m_body), FetchStatus::kOk);
  EXPECT_EQ(trusting.Fetch((m_base + "/down").c_str(), m_limits, m_body),
            FetchStatus::kRedirectRefused);
  EXPECT_TRUE(m_body.empty());
  EXPECT_EQ(m_plain.RequestCount("/doc.xml"), 0);
}

}  // namespace
