// BENCH mode: sequential write, read and copy bandwidth and dependent-load
// latency on one locked buffer, at sizes doubling from 4 KiB up to the buffer
// size, so the steps where the working set leaves L1, L2, L3 and reaches DRAM
// show. Runs on the main thread only.
#pragma once
#include <atomic>
#include <cstdint>

namespace dravik {

struct EngineContext;

// Buffer size from the available memory, the reserve and the --mem cap
// (0: no cap): available minus reserve, capped, at most 1 GiB. 0 means "not
// enough memory for bench" (reserve >= available, or less than 1 MiB left).
uint64_t bench_buffer_size(uint64_t available, uint64_t reserve, uint64_t mem_cap);

// Announces one measurement as a bench_point event.
void bench_point(EngineContext& run, uint64_t size, const char* op, double value);

// The BENCH mode driver.
void run_bench(EngineContext& run);

// Receives the read sum and the final chase index after each measurement, so
// the measured loops have an observable result and cannot be dropped.
extern std::atomic<uint64_t> bench_sink;

}  // namespace dravik
