// POSIX set-up of replacement conditions: a forked child that drops to "nobody", takes a
// file-size limit or ends itself at a step; tmpfs for a full disk when the test runs as root.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "common/posix_handles.h"
#include "support/disk_conditions.h"

namespace {

constexpr uid_t kNobody = 65534;
// Exit status of a child that ended itself at the chosen step; results are 0..3.
constexpr int kStoppedStatus = 100;

int g_stopCountdown = 0;
ReplaceStep g_stopStep = ReplaceStep::kCreateTemporary;

StepFault StopAtStep(ReplaceStep step) {
  if (step == g_stopStep && g_stopCountdown-- == 0) std::_Exit(kStoppedStatus);
  return StepFault::kNone;
}

// In the child: applies the conditions, runs the jobs, exits with the results packed in base 4.
[[noreturn]] void RunChild(const ReplaceConditions& conditions,
                           const std::vector<ReplaceJob>& jobs) {
  if (conditions.unprivileged && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) _exit(99);
  if (conditions.fileSizeLimit > 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // as the updater itself does
    const rlimit limit{conditions.fileSizeLimit, conditions.fileSizeLimit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(99);
  }
  if (conditions.stop) {
    g_stopCountdown = conditions.stopInReplacement;
    g_stopStep = conditions.stopAtStep;
    SetReplaceStepHook(StopAtStep);
  }
  int packed = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const ReplaceJob& job = jobs[i];
    const ReplaceResult result = ReplaceFileContents(
        job.first.c_str(), reinterpret_cast<const unsigned char*>(job.second.data()),
        job.second.size());
    packed |= static_cast<int>(result) << (2 * i);
  }
  _exit(packed);
}

}  // namespace

bool ReplaceUnder(const ReplaceConditions& conditions, const std::vector<ReplaceJob>& jobs,
                  std::vector<ReplaceResult>& results, std::string& why) {
  results.clear();
  if (conditions.heldOpenWithoutSharing) {
    why = "POSIX has no share modes: an open file never stops another open";
    return false;
  }
  if (conditions.unprivileged && ::geteuid() != 0) {
    why = "dropping to another user needs root";
    return false;
  }
  if (jobs.size() > 3) {
    why = "at most three jobs fit the child's exit status";
    return false;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    why = "fork failed";
    return false;
  }
  if (child == 0) RunChild(conditions, jobs);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 99) {
    why = "the child did not run to its end";
    return false;
  }
  if (WEXITSTATUS(status) == kStoppedStatus) return true;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    results.push_back(static_cast<ReplaceResult>((WEXITSTATUS(status) >> (2 * i)) & 3));
  }
  return true;
}

bool MountSmallVolume(const std::string& path, std::uint64_t bytes, std::string& why) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  if (::mount("mubax-test", path.c_str(), "tmpfs", 0, options.c_str()) == 0) return true;
  why = "cannot mount a tmpfs here (needs root outside a restricted container)";
  return false;
}

void UnmountSmallVolume(const std::string& path) { ::umount(path.c_str()); }

void GiveToUnprivilegedUser(const std::string& path) {
  if (::geteuid() == 0) (void)!::chown(path.c_str(), kNobody, kNobody);
}

bool MakeHostileObject(HostileObject kind, const std::string& path, std::string& why) {
  int made = -1;
  switch (kind) {
    case HostileObject::kFifo:
      made = ::mkfifo(path.c_str(), 0666);
      break;
    case HostileObject::kDevice:
      made = ::symlink("/dev/zero", path.c_str());
      break;
    case HostileObject::kDirectory:
      made = ::mkdir(path.c_str(), 0777);
      break;
    case HostileObject::kDanglingLink:
      made = ::symlink((path + ".nowhere").c_str(), path.c_str());
      break;
    case HostileObject::kLinkLoop:
      made = ::symlink(path.c_str(), path.c_str());
      break;
  }
  if (made != 0) why = "cannot make it here";
  return made == 0;
}

std::vector<std::string> MakeNonRegularFiles(const std::string& directory) {
  const std::string folder = directory + "/folder";
  const std::string fifo = directory + "/fifo";
  ::mkdir(folder.c_str(), 0700);
  ::mkfifo(fifo.c_str(), 0600);
  return {folder, fifo, "/dev/null", "/dev/zero"};
}

void ReleaseWaitingReader(const std::string& path) {
  // A writer that comes and goes: the waiting open returns, and its reads see the end.
  const UniqueFd writer(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
}
