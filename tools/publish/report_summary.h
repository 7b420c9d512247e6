// Reading the reports tills send back (one GET each, see update/run_report.h) out of a web
// server's access log, common or combined format, and summarising them for the release engineer.
#pragma once

#include <map>
#include <string>
#include <vector>

// One report as it stands in the log.
struct TillReport {
  std::string time;                           // the log's own time stamp, as written
  std::map<std::string, std::string> fields;  // the query's fields, decoded
  std::string Field(const std::string& name) const;
};

// Reads one access log line; false for a line that is not a GET carrying a report (no till and
// outcome fields) or not in the common or combined format.
bool ParseReportLine(const std::string& line, TillReport& report);

// The summary of `reports` (in log order): each till counted by its latest report, tills per
// installed version and per outcome, then every revert and refusal listed.
std::string SummariseReports(const std::vector<TillReport>& reports);

struct ReportOptions {
  std::vector<std::string> logs;  // access log paths
};

// Reads every log and prints the summary. Exit status: 0, or 1 when a log cannot be read.
int RunReportCommand(const ReportOptions& options);
