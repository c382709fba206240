// --check: verifies the digest lines of a list. The files are digested
// ahead by the pipeline while the list is read on; every line's outcome is
// printed in list order, then a summary of what failed.
#pragma once

#include <string>

#include "digest/digest_options.h"
#include "digest/digest_pipeline.h"

namespace compatcrypt::cli {

// The exit status the list calls for: 0 when every listed file matched.
int CheckList(const std::string &list, const DigestOptions &options, DigestPipeline &pipeline);

}  // namespace compatcrypt::cli
