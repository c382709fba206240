// digest: prints one digest line per file (digest/digest_lines.h), or with
// --check verifies the lines of lists (digest/check_list.h). The files are
// digested ahead on several threads by the pipeline; every line appears in
// the order the files were given.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "digest/check_list.h"
#include "digest/digest_lines.h"
#include "digest/digest_pipeline.h"
#include "digest/print_window.h"
#include "support/failure.h"
#include "support/number_option.h"

namespace compatcrypt::cli {

namespace {

int RunDigest(const DigestOptions &options) {
  std::vector<std::string> files = options.files;
  if (files.empty()) files.push_back("-");
  DigestPipeline pipeline(options.jobs != 0 ? options.jobs : DefaultJobs(), options.offset,
                          options.chunkSize);
  int status = 0;
  if (options.check) {
    for (const std::string &list : files) status |= CheckList(list, options, pipeline);
    return status;
  }
  auto print = [&](const std::string *file) {
    try {
      const std::string line = DigestLine(to_hex(*pipeline.Next()), *file, options.tag);
      std::fwrite(line.data(), 1, line.size(), stdout);
    } catch (const Failure &failure) {
      std::fflush(stdout);
      Report(failure.subject(), failure.what());
      status = 1;
    }
  };
  PrintWindow<const std::string *, decltype(print)> window(pipeline.Window(), print);
  for (const std::string &file : files) {
    pipeline.Submit(file, true, false);
    window.Add(&file);
  }
  window.Drain();
  return status;
}

}  // namespace

CommandRun AddDigestCommand(CLI::App &command) {
  auto options = std::make_shared<DigestOptions>();
  command
      .add_option("files", options->files,
                  "Files to digest, or with --check the lists to verify; '-' or none: standard input")
      ->type_name("FILE");
  command.add_option("--offset", options->offset, "Digest each file from byte N on (0 to 2^63 - 1)")
      ->type_name("N")
      ->transform(WholeNumber(0, INT64_MAX, 1, "not a whole number from 0 to 2^63 - 1"));
  command
      .add_option("-j,--jobs", options->jobs,
                  "Digest on N threads at once (default: the CPUs the tool may use); output as with 1")
      ->type_name("N")
      ->transform(WholeNumber(1, kMaxJobs, 1, "not a whole number from 1 to " + std::to_string(kMaxJobs)));
  // For tests: the smallest piece a large file is split into (hidden).
  command.add_option("--chunk-size", options->chunkSize)
      ->group("")
      ->transform(WholeNumber(64, std::uint64_t{1} << 40, 64, "not a multiple of 64 from 64 to 2^40"));
  CLI::Option *check = command.add_flag("-c,--check", options->check,
                                        "Read digest lines from the FILEs and verify the files they name");
  command.add_flag("--tag", options->tag, "Print 'compatcrypt (NAME) = HEX' lines");
  for (auto [name, flag, help] : {
           std::tuple{"--quiet", &options->quiet, "With --check: print nothing for files that match"},
           std::tuple{"--status", &options->status, "With --check: print nothing; the exit status tells"},
           std::tuple{"--strict", &options->strict, "With --check: exit 1 on malformed lines"},
           std::tuple{"-w,--warn", &options->warn, "With --check: report each malformed line"},
           std::tuple{"--ignore-missing", &options->ignoreMissing,
                      "With --check: no failure or line for files that do not exist"},
       })
    command.add_flag(name, *flag, help)->needs(check);
  return [options] { return RunDigest(*options); };
}

}  // namespace compatcrypt::cli
