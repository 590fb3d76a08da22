#include "support/run_rules.h"

#include <sstream>
#include <vector>

#include "flv_verify.h"

std::string brokenRunRule(const RunResult& run) {
  if (run.status != 0 && run.status != 1) return "exit status " + std::to_string(run.status);
  std::vector<std::string> lines;
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);) lines.push_back(line);
  if (!run.err.empty() && run.err.back() != '\n') return "standard error ends inside a line";
  std::size_t errors = 0;
  for (const auto& line : lines) errors += line.rfind("ERRO", 0) == 0 ? 1u : 0u;
  if (errors > 1) return "more than one ERRO line";
  if (errors == 1 && lines.back().rfind("ERRO", 0) != 0) return "the ERRO line is not the last line";
  if ((errors == 1) != (run.status == 1)) return "exit status does not match the error lines";
  const FlvReport report = verifyFlv(run.out.data(), run.out.size());
  if (!report.ok) return "malformed output: " + report.error;
  // Nothing is written only when the run ends before the FLV start: a
  // refused capture header, or an input that cannot be read at all.
  if (report.empty && !(lines.size() == 1 && (lines[0].rfind("ERRO dimensao: ", 0) == 0 ||
                                              lines[0].rfind("ERRO leitura: ", 0) == 0))) {
    return "empty output without a refused or unreadable capture header";
  }
  return {};
}
