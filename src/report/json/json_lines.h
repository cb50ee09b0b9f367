// The writers of the JSON sink's lines, one per event kind; shared between
// the files of the sink. Each writes one complete line (with its newline) to
// out; the sink flushes after it.
#pragma once
#include <cstdio>

namespace dravik {

struct RunView;
struct FaultRecord;
struct KlogEntry;
struct PressureRecord;
struct BenchPoint;

// Capacity of an escaped text field: at most 255 bytes plus terminator.
inline constexpr unsigned long kEscapedCap = 256;

inline const char* json_bool(bool value) { return value ? "true" : "false"; }

// Lines that read the run's state.
void json_start_line(FILE* out, const RunView& run);
void json_progress_line(FILE* out, const RunView& run);
void json_fault_line(FILE* out, const RunView& run, const FaultRecord& record);
void json_summary_line(FILE* out, const RunView& run);

// The remaining kinds.
void json_map_line(FILE* out, const RunView& run);
void json_phase_line(FILE* out, const RunView& run);
void json_cell_line(FILE* out, const RunView& run);
void json_pressure_line(FILE* out, const PressureRecord& record);
void json_bench_point_line(FILE* out, const BenchPoint& point);
void json_bench_summary_line(FILE* out);
void json_log_line(FILE* out, const RunView& run);
void json_klog_line(FILE* out, const KlogEntry& entry);

}  // namespace dravik
