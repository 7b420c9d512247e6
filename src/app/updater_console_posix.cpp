// The Linux front end of the updater: the same flow as the window without one. Half a second of
// wait (Escape launches the main application and quits, Enter restarts the wait, when standard
// input is a terminal), then one update run; a one-line progress bar when standard error is a
// terminal, nothing printed otherwise. `--version` alone prints the version and does nothing else;
// any other arguments are ignored, as they always were.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/launcher.h"
#include "app/logging_host.h"
#include "app/update_session.h"
#include "mubax_version.h"
#include "update/update_engine.h"

namespace {

constexpr int kFirstTickMilliseconds = 500;
constexpr int kBarWidth = 40;
constexpr useconds_t kMicrosecondsPerMillisecond = 1000;
// A lone Escape key, not the start of a key's escape sequence, when nothing follows within this.
constexpr int kEscapeSequenceMilliseconds = 30;
// The rest of an escape sequence is drained in reads of this many bytes.
constexpr std::size_t kSequenceChunkBytes = 16;
// A fresh progress bar's range, as the window's control starts.
constexpr int kInitialProgressUpper = 100;
constexpr char kVersionOption[] = "--version";

// Puts the terminal into single-key mode for the wait and restores it on every path.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) : m_fd(fd) {
    m_active = ::isatty(fd) == 1 && ::tcgetattr(fd, &m_saved) == 0;
    if (!m_active) return;
    termios raw = m_saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    m_active = ::tcsetattr(fd, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (m_active) ::tcsetattr(m_fd, TCSANOW, &m_saved);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool Active() const { return m_active; }

 private:
  int m_fd;
  bool m_active = false;
  termios m_saved{};
};

enum class WaitResult { kRun, kEscape };

// True when another byte is ready within `milliseconds`: tells Escape from an escape sequence.
bool ByteReady(int fd, int milliseconds) {
  pollfd ready{fd, POLLIN, 0};
  return ::poll(&ready, 1, milliseconds) > 0 && (ready.revents & POLLIN) != 0;
}

// The wait before the first tick: Enter restarts it, Escape ends it with the launch.
WaitResult WaitForFirstTick() {
  RawTerminal terminal(STDIN_FILENO);
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kFirstTickMilliseconds);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return WaitResult::kRun;
    if (!terminal.Active()) {
      ::usleep(static_cast<useconds_t>(left) * kMicrosecondsPerMillisecond);
      continue;
    }
    if (!ByteReady(STDIN_FILENO, static_cast<int>(left))) continue;
    char key = 0;
    if (::read(STDIN_FILENO, &key, 1) != 1) continue;
    if (key == '\x1b') {
      if (!ByteReady(STDIN_FILENO, kEscapeSequenceMilliseconds)) return WaitResult::kEscape;
      char sequence[kSequenceChunkBytes];
      while (ByteReady(STDIN_FILENO, 0) && ::read(STDIN_FILENO, sequence, sizeof(sequence)) > 0) {
      }
    } else if (key == '\n' || key == '\r') {
      deadline = Clock::now() + std::chrono::milliseconds(kFirstTickMilliseconds);
    }
  }
}

class ConsoleHost : public RunHost, public ProgressSink {
 public:
  ConsoleHost() : m_showProgress(::isatty(STDERR_FILENO) == 1) {}

  bool TakeUpdateTurn() override { return true; }
  void ReportRunOutcome(const RunSummary& /*summary*/) override {}

  void SetProgressRange(std::uint16_t upper) override {
    m_upper = upper;
    Draw();
  }
  void SetProgressPos(int position) override {
    m_position = position;
    Draw();
  }
  void ShowDownloadProgress(int staged, int documents) override {
    m_upper = static_cast<std::uint16_t>(documents);
    m_position = staged;
    Draw();
  }
  void LaunchMainApplication() override {
    m_launched = true;
    ::LaunchMainApplication(kLaunchWaitMilliseconds, &m_started);
  }
  bool Launched() const { return m_launched; }
  // What the run's launch started, for the first-start watch.
  StartedProcess& Started() { return m_started; }
  void EndRun() override {
    if (m_showProgress && m_drawn) std::fputc('\n', stderr);
  }
  RunLog& Log() { return m_log; }

 private:
  // Like a progress bar control: positions outside the range are shown at its ends.
  void Draw() {
    if (!m_showProgress) return;
    int filled = 0;
    if (m_upper > 0 && m_position > 0) {
      const int shown = m_position > m_upper ? m_upper : m_position;
      filled = static_cast<int>(static_cast<long long>(shown) * kBarWidth / m_upper);
    }
    char bar[kBarWidth + 1];
    std::memset(bar, '#', static_cast<std::size_t>(filled));
    std::memset(bar + filled, '.', static_cast<std::size_t>(kBarWidth - filled));
    bar[kBarWidth] = '\0';
    std::fprintf(stderr, "\rUpdating MUB-AX ... [%s] %d/%d", bar, m_position, m_upper);
    std::fflush(stderr);
    m_drawn = true;
  }

  RunLogFile m_log;
  bool m_showProgress;
  bool m_drawn = false;
  bool m_launched = false;
  StartedProcess m_started;
  int m_upper = kInitialProgressUpper;
  int m_position = 0;
};

}  // namespace

int main(int argc, char** argv) {
  // Release engineers and the package ask which version is installed; nothing else is read.
  if (argc == 2 && std::strcmp(argv[1], kVersionOption) == 0) {
    std::printf("mubax-updater %s\n", MUBAX_VERSION_TEXT);
    return 0;
  }
  // A file-size limit (RLIMIT_FSIZE) must fail the one write that passes it, as a full disk
  // would, not end the run before the main application is started.
  ::signal(SIGXFSZ, SIG_IGN);
  ConsoleHost host;
  try {
    if (WaitForFirstTick() == WaitResult::kEscape) {
      host.LaunchMainApplication();
      return 0;
    }
    DiskFileSink disk;
    // One fetcher for the run: the manifest and every document share its connections.
    NetworkFetcher fetcher;
    FirstStartWatchSession watch(disk);
    const RunSummary summary = RunUpdateSession(UpdateHosts(host, host, host.Log()), disk, fetcher,
                                                kRunLockWaitMilliseconds, &watch);
    // The run has ended and its line is closed; with the setting on the process stays for the
    // watch period, holding the run lock.
    const FirstStartWatchOutcome outcome =
        watch.WatchAndConclude(host.Started(), kLaunchWaitMilliseconds);
    // Only now: the till is selling before its report is on the line.
    SendRunReportAfterLaunch(summary, outcome, fetcher);
  } catch (...) {
    // Nothing reaches the user; the till must start either way.
    if (!host.Launched()) host.LaunchMainApplication();
  }
  return 0;
}
