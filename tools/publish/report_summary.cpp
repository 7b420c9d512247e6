// Summarising till reports from access logs: the request line of each entry, its query's fields,
// the latest report of each till.
#include "publish/report_summary.h"

#include <filesystem>
#include <fstream>
#include <regex>

#include "net/address.h"
#include "publish/commands.h"

namespace {

// host ident user [time] "METHOD target protocol" status bytes, then the combined format's
// referrer and agent, which are not read.
const std::regex kAccessLine(R"(^\S+ \S+ \S+ \[([^\]]*)\] "GET (\S+)[^"]*" \d{3} \S+)");

std::map<std::string, std::string> QueryFields(const std::string& query) {
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      fields.emplace(DecodeQueryValue(pair.substr(0, equals)),
                     DecodeQueryValue(pair.substr(equals + 1)));
    }
    start = end + 1;
  }
  return fields;
}

std::string CountLines(const std::string& title, const std::map<std::string, int>& counts) {
  std::string text = title + "\n";
  for (const auto& entry : counts) {
    text += "  " + (entry.first.empty() ? std::string("(none)") : entry.first) + ": " +
            std::to_string(entry.second) + "\n";
  }
  return text;
}

std::string Listed(const TillReport& report) {
  std::string line = "  " + report.time + " till " + report.Field("till") + ": installed " +
                     report.Field("installed") + ", offered " + report.Field("offered");
  if (!report.Field("reason").empty()) line += ": " + report.Field("reason");
  return line + "\n";
}

}  // namespace

std::string TillReport::Field(const std::string& name) const {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

bool ParseReportLine(const std::string& line, TillReport& report) {
  std::smatch match;
  if (!std::regex_search(line, match, kAccessLine)) return false;
  const std::string target = match[2];
  const std::size_t query = target.find('?');
  if (query == std::string::npos) return false;
  TillReport parsed;
  parsed.time = match[1];
  parsed.fields = QueryFields(target.substr(query + 1));
  if (parsed.Field("till").empty() || parsed.Field("outcome").empty()) return false;
  report = parsed;
  return true;
}

std::string SummariseReports(const std::vector<TillReport>& reports) {
  std::map<std::string, const TillReport*> latest;
  for (const TillReport& report : reports) latest[report.Field("till")] = &report;
  std::map<std::string, int> perVersion;
  std::map<std::string, int> perOutcome;
  for (const auto& till : latest) {
    ++perVersion[till.second->Field("installed")];
    ++perOutcome[till.second->Field("outcome")];
  }
  std::string reverts;
  std::string refusals;
  for (const TillReport& report : reports) {
    if (report.Field("outcome") == "reverted") reverts += Listed(report);
    if (report.Field("outcome") == "refused") refusals += Listed(report);
  }
  return std::to_string(reports.size()) + " reports from " + std::to_string(latest.size()) +
         " tills\n" + CountLines("tills per installed version (latest report):", perVersion) +
         CountLines("tills per outcome (latest report):", perOutcome) +
         "reverted after a failed first start:\n" + (reverts.empty() ? "  none\n" : reverts) +
         "refused:\n" + (refusals.empty() ? "  none\n" : refusals);
}

int RunReportCommand(const ReportOptions& options) {
  std::vector<TillReport> reports;
  for (const std::string& path : options.logs) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
      PrintError("cannot read " + path);
      return 1;
    }
    std::string line;
    TillReport report;
    while (std::getline(in, line)) {
      if (ParseReportLine(line, report)) reports.push_back(report);
    }
  }
  WriteConsoleText(stdout, SummariseReports(reports));
  return 0;
}
