// Randomized registries and the checks run on each: the whole program on the stand-in
// registry against the independent model.
#pragma once

#include "model.h"

#include <cstdint>
#include <string>

namespace safety {

// Fills the stand-in registry (after stub::ResetAll) with a random installer registration:
// family and unrelated products, shared and exclusive components, patches, missing pieces
// and odd names; `rich` makes sure of several products, patches and components. Returns
// whether the machine runs the tool under WOW64.
bool Generate(uint64_t seed, bool rich = false);

// Runs the whole program with OK on the generated registry (and the fault, if any) and
// compares it with the model. Returns an empty string, or what went wrong.
std::string Check(uint64_t seed, const model::Fault& fault = model::Fault(), bool keepTrace = true,
                  bool rich = false);

// Every registry call of a clean run of a rich registry from `seed`, failed in turn with each status; returns
// the failures found and counts the faults injected.
std::string Sweep(uint64_t seed, long& faults);

}  // namespace safety
