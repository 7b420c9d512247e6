// Stands in for a new (or old) main application under a first-start watch. What it does comes
// from a trailer appended to its own executable ("\nMUBAX-STANDIN <mode> <tag>\n", so an old and
// a new version can differ by bytes alone) or else from MUBAX_TEST_STANDIN ("<mode> <tag>"):
//   hold   - takes the main application's mark, refusing to start (exit 5) when it is already
//            taken, as a single-instance application does, and holds it until the stop file;
//   exit   - exits at once with an error (3);
//   ignore - never takes the mark, and runs until the stop file;
//   crash  - takes the mark, then exits with an error (4) a tenth of a second later;
//   flicker - takes the mark for a tenth of a second, lets it go as long, and again, until the
//            stop file.
// Each start appends "<what> <tag>" to MUBAX_TEST_STARTED_FILE. The stop file is
// MUBAX_TEST_STOP_FILE; without one it stops after a minute. MUBAX_TEST_INSTANCE_CHECKS asks a
// holder to check its mark that many times, 10 ms apart, before it keeps it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/main_app_lock.h"
#include "support/temp_dir.h"

namespace {

constexpr char kTrailerMark[] = "MUBAX-STANDIN ";
// Far shorter than any steady hold the tests ask for.
constexpr std::chrono::milliseconds kBriefHold{100};

void Record(const std::string& line) {
  const char* record = std::getenv("MUBAX_TEST_STARTED_FILE");
  if (record == nullptr || record[0] == '\0') return;
  std::FILE* file = std::fopen(record, "ab");
  if (file == nullptr) return;
  std::fputs((line + "\n").c_str(), file);
  std::fclose(file);
}

std::string Behaviour(const char* self) {
  std::string bytes;
  // Only the file's last line counts: the mark's own text is somewhere in the program too.
  if (self != nullptr && ReadWholeFile(self, bytes) && bytes.size() > 2 && bytes.back() == '\n') {
    const std::string last = bytes.substr(bytes.rfind('\n', bytes.size() - 2) + 1);
    if (last.compare(0, std::strlen(kTrailerMark), kTrailerMark) == 0) {
      return last.substr(std::strlen(kTrailerMark), last.size() - std::strlen(kTrailerMark) - 1);
    }
  }
  const char* fromEnvironment = std::getenv("MUBAX_TEST_STANDIN");
  return fromEnvironment != nullptr ? fromEnvironment : "hold plain";
}

void WaitForStop() {
  const char* stop = std::getenv("MUBAX_TEST_STOP_FILE");
  for (int i = 0; i < 600; ++i) {
    if (stop != nullptr && stop[0] != '\0' && PathExists(stop)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

int main(int /*argc*/, char** argv) {
  const std::string behaviour = Behaviour(argv[0]);
  const std::string mode = behaviour.substr(0, behaviour.find(' '));
  const std::string tag = behaviour.substr(behaviour.find(' ') + 1);
  if (mode == "exit") {
    Record("exited " + tag);
    return 3;
  }
  if (mode == "hold") {
    const char* checksText = std::getenv("MUBAX_TEST_INSTANCE_CHECKS");
    const int checks = checksText != nullptr ? std::atoi(checksText) : 1;
    for (int i = 1; i < checks; ++i) {
      if (!MainAppLock().Held()) {
        Record("refused " + tag);
        return 5;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    MainAppLock lock;
    if (!lock.Held()) {
      Record("refused " + tag);
      return 5;
    }
    Record("held " + tag);
    WaitForStop();
    return 0;
  }
  if (mode == "crash") {
    MainAppLock lock;
    Record("crashed " + tag);
    std::this_thread::sleep_for(kBriefHold);
    return 4;
  }
  if (mode == "flicker") {
    Record("flickered " + tag);
    const char* stop = std::getenv("MUBAX_TEST_STOP_FILE");
    while (stop == nullptr || !PathExists(stop)) {
      {
        MainAppLock lock;
        std::this_thread::sleep_for(kBriefHold);
      }
      std::this_thread::sleep_for(kBriefHold);
    }
    return 0;
  }
  Record("started " + tag);
  WaitForStop();
  return 0;
}
