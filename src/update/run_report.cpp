// The report a till sends after its run: the outcome's words, the till's name and the one GET.
#include "update/run_report.h"

#include <vector>

#include "crypto/crypto.h"
#include "net/address.h"

const char kReportAddressValue[] = "urlInforme";

namespace {

// Kept apart from the rollout's hash input, so a report's name says nothing of a till's bucket.
const char kTillNameLabel[] = "mubax-till-report\n";
// Half the digest: plenty to tell a fleet's tills apart, short in an access log.
constexpr std::size_t kTillNameBytes = 16;

void AddField(std::string& address, const char* name, const std::string& value) {
  address += address.find('?') == std::string::npos ? '?' : '&';
  address += name;
  address += '=';
  address += EncodeQueryValue(value);
}

}  // namespace

const char* DescribeRunOutcome(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kNothingToDo:
      return "nothing-to-do";
    case RunOutcome::kInstalled:
      return "installed";
    case RunOutcome::kFailedFiles:
      return "failed-files";
    case RunOutcome::kDeferred:
      return "deferred";
    case RunOutcome::kNotInRollout:
      return "not-in-rollout";
    case RunOutcome::kRefused:
      return "refused";
    case RunOutcome::kHeld:
      return "held";
    case RunOutcome::kReverted:
      return "reverted";
    case RunOutcome::kNoManifest:
      return "no-manifest";
    case RunOutcome::kBusy:
      return "busy";
    case RunOutcome::kFailed:
      return "failed";
  }
  return "unknown";
}

std::string TillReportName(const std::string& identity) {
  if (identity.empty()) return std::string();
  const std::string input = kTillNameLabel + identity;
  Sha256Digest digest{};
  if (!ComputeSha256(input.data(), input.size(), digest)) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string name;
  for (std::size_t i = 0; i < kTillNameBytes; ++i) {
    name += kDigits[digest[i] >> 4];
    name += kDigits[digest[i] & 0x0F];
  }
  return name;
}

std::string FormatReportAddress(const std::string& base, const RunSummary& summary,
                                const std::string& tillName) {
  std::string address = base;
  AddField(address, "till", tillName);
  AddField(address, "installed", summary.installedVersion);
  AddField(address, "offered", summary.offeredVersion);
  AddField(address, "outcome", DescribeRunOutcome(summary.outcome));
  if (summary.outcome == RunOutcome::kRefused) {
    AddField(address, "reason", DescribeSignatureCheck(summary.refusal));
  }
  if (summary.failedFiles > 0) AddField(address, "failed", std::to_string(summary.failedFiles));
  return address;
}

FetchStatus SendReport(Fetcher& fetcher, const std::string& address) {
  if (!IsHttpKind(ClassifyAddress(address.c_str()))) return FetchStatus::kUnsupportedAddress;
  FetchLimits limits;
  limits.maxBytes = kReportAnswerMaxBytes;
  limits.connectTimeoutSeconds = kReportConnectTimeoutSeconds;
  limits.stallTimeoutSeconds = kReportTotalTimeoutSeconds;
  limits.totalTimeoutSeconds = kReportTotalTimeoutSeconds;
  limits.maxRedirects = 0;  // a redirect would be a second request
  limits.allowLocalFiles = false;
  std::vector<char> answer;
  return fetcher.Fetch(address.c_str(), limits, answer);
}
