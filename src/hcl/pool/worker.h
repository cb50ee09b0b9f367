// The worker thread of the qualification pool: pinning, the job loop between
// the two barriers, the dispatch of an op to its kernel (kernels/kernels.h)
// and the allocation of the worker's arena.
#pragma once

#include "hcl/kernels/job.h"

namespace dravik {

// Thread entry of worker `index`: pins itself, then runs job after job until
// the quit op.
void hcl_worker(HclJob* job, int index);

// The CPU worker `index` pins itself to: index mod cpus.
int hcl_worker_cpu(int index, int cpus);
// Pins the calling thread to one CPU (an empty set when cpu >= 1024, which the
// kernel refuses). False when the affinity could not be set.
bool hcl_pin_self(int cpu);

// Runs the current op's kernel for worker `index` on the calling thread
// (what the worker does between its barriers).
void hcl_run_kernel(HclJob& job, int index);

// The allocation op: maps the worker's arena, advises huge pages, fills it
// with stream seed 0 and locks it. A failed mapping leaves the arena empty.
void hcl_allocate(HclJob& job, int index);

}  // namespace dravik
