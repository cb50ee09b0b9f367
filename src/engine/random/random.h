// The pattern tests whose data is the xorshift128+ stream of the test's seed
// (kernels/rand_lanes.h runs it in lanes): regenerated for every pass, so
// nothing but the block holds it. One file each; the catalogue lists them.
#pragma once

#include "engine/kernels/kernels.h"

namespace dravik {

void algo_movinv_rand(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_rand_dual(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_block_move(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_compare(EngineContext&, const TestBlock&, const AlgoParams&);

}  // namespace dravik
