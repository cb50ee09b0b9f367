// The benchmark's console table: a header, one row per measurement, a
// closing hint. Each line is flushed as it is printed.
#pragma once
#include <cstdint>
#include <cstdio>

#include "core/run/event_sink.h"

namespace dravik {

void print_bench_header(FILE* out, const BenchStart& start, int32_t flush_on);
void print_bench_row(FILE* out, const BenchPoint& point);
void print_bench_done(FILE* out);

}  // namespace dravik
