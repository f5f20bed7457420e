// tarvion-request: hands one request to a running Tarvion the way the other
// program does, waits for the job's final status and prints its output.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "config/IniFile.h"
#include "link/Cp1250.h"
#include "requests/RequestFile.h"
#include "tools/tarvion-request/RequestClient.h"

namespace {

bool ReadInput(const std::string& input, std::string& bytes) {
  if (input == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    return !std::cin.bad();
  }
  std::ifstream in(input, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

// The request and output file names of the configuration (code page 1250 in
// the record, file names of this system on disk, as the program uses them).
StartFiles FilesFromIni(const std::string& iniPath) {
  const StoredConfig config = DecodeIni(ReadIniValues(QString::fromStdString(iniPath)));
  return {Utf8FromCp1250(config.Block.RequestFileName), Utf8FromCp1250(config.Block.OutputFileName)};
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "tarvion-request: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string error;
  const auto options = ParseClientOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) return Fail(error + " (see --help)", kCannotRun);
  if (options->Help) {
    std::fputs(ClientUsage().c_str(), stdout);
    return kAllAcknowledged;
  }
  std::string input;
  if (!ReadInput(options->Input, input)) return Fail("cannot read " + options->Input, kCannotRun);
  std::vector<std::string> lines = SplitLines(input);
  if (options->Terminal) lines.insert(lines.begin(), "TERM" + std::to_string(*options->Terminal));
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";

  const StartFiles files = options->IniPath.empty() ? StartFiles{} : FilesFromIni(options->IniPath);
  int failure = kCannotRun;
  const auto outcome = HandInRequest(options->Directory, files, bytes, std::chrono::steady_clock::now() + options->Timeout,
                                  failure, error);
  if (!outcome) return Fail(error, failure);
  for (const std::string& line : outcome->Output) std::cout << line << '\n';
  std::cout.flush();
  if (!outcome->Note.empty()) std::fprintf(stderr, "tarvion-request: %s\n", outcome->Note.c_str());
  std::fprintf(stderr, "%d,%d\n", outcome->First, outcome->Second);
  return ExitStatusFor(*outcome, CommandCount(lines));
}
