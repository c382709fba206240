// digest: prints one digest line per file (digest/digest_lines.h), or with
// --check verifies the lines of lists (digest/check_list.h). The files are
// digested ahead on several threads by the pipeline; every line appears in
// the order the files were given.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "digest/check_list.h"
#include "digest/digest_lines.h"
#include "digest/digest_pipeline.h"
#include "digest/print_window.h"
#include "support/failure.h"

namespace compatcrypt::cli {

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

}  // namespace compatcrypt::cli
