// kmrtool: the developers' and power users' window into recordings.
//   kmrtool probe FILE   JSON description of the recording on standard output
//   kmrtool check FILE   exit 0 when the file is a well-formed recording
#include <cstdio>
#include <cstring>
#include <string>

#include "player/container_file.h"
#include "tools/kmrtool/probe.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kmrtool probe FILE\n"
               "       kmrtool check FILE\n");
  return 2;
}

int Probe(const char* path, bool json) {
  kmr::ContainerFile file;
  if (!file.OpenPath(path)) {
    std::fprintf(stderr, "%s: %s\n", path, file.Error().c_str());
    return 1;
  }
  const kmr::ProbeReport report = kmr::ProbeContainer(&file);
  if (json) {
    std::fputs(kmr::ProbeToJson(file, report).c_str(), stdout);
    if (report.read_error) std::fprintf(stderr, "%s: %s\n", path, report.problem.c_str());
    return report.read_error ? 1 : 0;
  }
  if (!report.problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", path, report.problem.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "probe" && argc == 3) return Probe(argv[2], true);
  if (command == "check" && argc == 3) return Probe(argv[2], false);
  return Usage();
}
