// The instruction sets engines are built for, each with the CPU features
// it needs. One list serves both sides of the contract: the build compiles
// an instruction set's engine files with -m<feature> for each feature here
// (cmake/CompatcryptEngines.cmake reads this file), and the dispatch calls
// such an engine only where Cpu() has every one of them. So an engine can
// never run on a CPU that lacks an instruction it was allowed to use.
//
// The build reads the lines of the form
//   inline constexpr InstructionSet kName{"NAME", "feature ..."};
// keep each on one line.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/cpu_features.h"

namespace compatcrypt {

struct InstructionSet {
  std::string_view name;      // the build option's suffix: COMPATCRYPT_ENGINE_<name>
  std::string_view features;  // names from kCpuFeatureNames
  constexpr uint32_t Needs() const { return FeaturesNamed(features); }
};

// clang-format off
inline constexpr InstructionSet kShaniSet{"SHANI", "sse4.1 sha"};
inline constexpr InstructionSet kAvx2Set{"AVX2", "avx2"};
inline constexpr InstructionSet kAvx512Set{"AVX512", "avx2 avx512f avx512bw"};
inline constexpr InstructionSet kVbmiSet{"VBMI", "avx2 avx512f avx512bw avx512vl avx512cd avx512vbmi avx512bitalg"};
// clang-format on

// What the portable engines need.
inline constexpr uint32_t kRunsEverywhere = 0;

}  // namespace compatcrypt
