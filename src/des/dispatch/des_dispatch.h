// The one place that chooses how DES runs: the serial engines and the
// bitsliced engines this build holds, the CPU check for each, and the
// crossover from serial to bitsliced work.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "des/engines/bitslice_engine.h"
#include "des/engines/serial_engine.h"
#include "support/cpu_features.h"

namespace compatcrypt::des {

// The engines this build holds whose instructions this CPU runs, portable
// first.
std::span<const SerialDesEngine *const> AvailableSerialEngines();
std::span<const BitsliceDesEngine *const> AvailableBitsliceEngines();

// The engines in use.
const SerialDesEngine &ActiveSerialEngine();
const BitsliceDesEngine &ActiveBitsliceEngine();

// The engine for the next pass when `blocks` independent blocks remain:
// the widest for whole passes, a narrower one for a rest it takes in one
// pass at less cost.
const BitsliceDesEngine &BitsliceEngineFor(std::size_t blocks);

// Independent blocks below this count go to the serial engine.
std::size_t BitsliceCrossover();

// The default serial engine for `cpu`: of the engines of the highest tier
// it runs, the one `trial` (the time of a fixed piece of work) finds
// fastest. The dispatch passes a short measurement, made once a process;
// tests pass fake timings.
const SerialDesEngine &PickSerialEngine(const CpuFeatures &cpu, double (*trial)(const SerialDesEngine &));

// Tests and benchmarks: selects engines by name, or with an empty name goes
// back to the default. A bitsliced engine selected by name takes every run
// of independent blocks, however short; "serial" sends every run to the
// serial engine. False if `name` is not available.
bool UseSerialEngine(std::string_view name);
bool UseBitsliceEngine(std::string_view name);

}  // namespace compatcrypt::des
