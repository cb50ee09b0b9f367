// The pattern tests whose data is a fixed pattern or the word's own address:
// every expected value follows from the row's constants and the index. One
// file each (a family shares one: solid0 and solid1, the moving inversions,
// bitflip and bitspread); the catalogue lists them.
#pragma once

#include "engine/kernels/kernels.h"

namespace dravik {

void algo_stuck_addr(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_solid(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_checker(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_movinv(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_movinv8(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_modulo20(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_walk(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_blockseq(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_bitflip(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_bitspread(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_movinv_rot(EngineContext&, const TestBlock&, const AlgoParams&);
void algo_retention(EngineContext&, const TestBlock&, const AlgoParams&);

}  // namespace dravik
