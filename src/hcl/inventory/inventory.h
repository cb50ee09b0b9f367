// What memory kit the qualification is judging: the populated SMBIOS memory
// devices, the channels they fill, the kit's theoretical bandwidth, and
// whether the modules form a matched set. Everything here reads firmware
// tables and sysfs once, on the main thread, before any worker starts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/config.h"
#include "memory/address/phys_map.h"

namespace dravik {

inline constexpr const char* kDmiTablePath = "/sys/firmware/dmi/tables/DMI";
inline constexpr const char* kNodeDir = "/sys/devices/system/node";
// The table file is read up to this many bytes.
inline constexpr size_t kDmiTableMaxBytes = 0x40000;

// One populated memory device, as the firmware describes it.
struct MemoryModule {
  uint64_t size = 0;          // bytes, never 0 for a kept module
  int speed = 0;              // Speed field, MT/s; 0 when the structure is too short
  int configured_speed = 0;   // Configured Memory Speed, MT/s; 0 when absent
  int data_width = 64;        // bits, 8..128; anything else (unknown widths) reads as 64
  int ecc = 0;                // 1 when both widths are known and data < total
  char type[10] = "";         // "DDR4", "LPDDR3", ... or "RAM"
  char locator[36] = "";      // Device Locator
  char bank[36] = "";         // Bank Locator
  char manufacturer[24] = ""; // filtered: placeholders read as empty
  char part[28] = "";         // filtered likewise

  // Configured speed when the firmware gives one, else the rated speed.
  int effective_speed() const { return configured_speed > 0 ? configured_speed : speed; }
};

struct MemoryInventory {
  static constexpr int kMaxModules = 16;

  int module_count = -1;      // -1: no table; 0: table without populated devices
  MemoryModule modules[kMaxModules];
  // Every populated slot of the table, also past the kept ones.
  int installed_count = 0;
  uint64_t installed_bytes = 0;
  uint64_t smallest_bytes = 0;  // the smallest populated module; 0 when none
  int channel_count = 0;
  int bus_bits = 0;           // data bus width summed over the channels
  int max_mts = 0;            // largest effective speed, 0 when none is known
  int numa_nodes = 1;
  int cpus = 1;
};

// The bandwidth the kit should reach in theory, and where that figure came from.
struct JedecReference {
  double theoretical_gbs = 0.0;  // GB/s (10^9 bytes); 0 = no reference
  char channels_src[96] = "no DMI data";
};

// The uniformity gate: a qualification only holds for a matched kit.
struct SetupAssessment {
  static constexpr int kMaxReasons = 8;
  static constexpr size_t kReasonBytes = 96;

  int uniform = -1;           // 1 uniform, 0 mixed, -1 unknown (no DMI data)
  int reason_count = 0;
  char reasons[kMaxReasons][kReasonBytes] = {};
};

// --- the table walk (dmi.cpp) ---

// Decodes the memory devices of a raw SMBIOS structure table (the bytes of
// the DMI table file). Keeps at most kMaxModules populated devices in table
// order and returns how many; a malformed structure ends the walk with what
// was found before it.
int walk_dmi_table(const uint8_t* table, size_t len, MemoryModule* modules, int max_modules);

// Every populated memory device of the table, however many: what is
// installed, whatever the system makes of it.
struct InstalledMemory {
  int modules = 0;
  uint64_t bytes = 0;
  uint64_t smallest = 0;  // 0 when nothing is populated
};
InstalledMemory installed_memory(const uint8_t* table, size_t len);

// --- one memory device (module.cpp) ---

// Decodes one type 17 structure: `fmt` is its formatted area (`len` bytes,
// the length byte's value) and `strings` the string set after it
// (`strings_len` bytes, may lack its terminator when the table is cut).
// Returns false when the device holds no module (size 0 or unknown).
bool decode_memory_device(const uint8_t* fmt, size_t len, const uint8_t* strings,
                          size_t strings_len, MemoryModule& module);

// The name of an SMBIOS memory type code ("RAM" for codes without one here).
const char* memory_type_name(unsigned code);

// --- channels and reference (channels.cpp) ---

// The channel a module's locator or bank names, upper-cased into `key`
// (capacity `cap`); false when neither string carries a channel word.
bool channel_key(const MemoryModule& module, char* key, size_t cap);

// channel_count, bus_bits, max_mts and the reference from the kept modules,
// then the operator's --jedec-gbs figure when it is above 0.
void derive_reference(MemoryInventory& inv, JedecReference& ref, double jedec_gbs);

// The whole inventory from table bytes (null `table` means the table could
// not be read), cpus and numa_nodes left as they are.
void inventory_from_table(const uint8_t* table, size_t len, double jedec_gbs,
                          MemoryInventory& inv, JedecReference& ref);

// Reads the DMI table file (at most kDmiTableMaxBytes) and builds the
// inventory; a missing, unreadable or empty file is no table.
void read_memory_inventory(double jedec_gbs, MemoryInventory& inv, JedecReference& ref,
                           const std::string& dmi_path = kDmiTablePath);

// --- machine figures (machine.cpp) ---

// Online processors, at least 1.
int online_cpus();

// NUMA nodes: node0, node1, ... under `node_dir` until one is missing (a
// missing node0 is skipped once); at least 1.
int count_numa_nodes(const std::string& node_dir = kNodeDir);

// Worker threads: --threads when given, else one per CPU; 1..64.
int hcl_worker_count(const RunConfig& cfg, int cpus);

// Everything above for a run: cpus, NUMA nodes, table, channels, reference.
void take_memory_inventory(const RunConfig& cfg, MemoryInventory& inv, JedecReference& ref,
                           const std::string& dmi_path = kDmiTablePath,
                           const std::string& node_dir = kNodeDir);

// --- the uniformity gate (gate.cpp) ---

// mem_total: the kernel's MemTotal in bytes (0 unknown), and page_size the
// run's page size, for the unused module rule below.
SetupAssessment assess_setup(const MemoryInventory& inv, SetupOverride override_mode,
                             uint64_t mem_total = 0, uint64_t page_size = system_page_size());

// A module the system does not use (badly seated, or refused at boot): the
// populated slots add up to more than the kernel sees by at least the
// smallest module, beyond the page map the kernel keeps out of MemTotal
// (64 bytes per page of page_size bytes: 1/64 of what it uses with 4 KiB
// pages, 1/1024 with 64 KiB pages); firmware and graphics reservations are
// far smaller. Writes "installed %s in %d module%s, the system uses %s: a
// module may not be in use" and returns true; false when nothing is missing
// or either total is unknown.
bool unused_module_reason(const MemoryInventory& inv, uint64_t mem_total, char* out, size_t cap,
                          uint64_t page_size = system_page_size());

// The same rule for a run that has no inventory: reads the table at
// dmi_path; empty when the table cannot be read or nothing is missing.
std::string unused_module_warning(uint64_t mem_total, const std::string& dmi_path = kDmiTablePath,
                                  uint64_t page_size = system_page_size());

}  // namespace dravik
