// What a report says about the box a run ran on: its name, its kernel and
// its processor.
#pragma once
#include <string>

namespace dravik {

struct HostFacts {
  std::string host;       // empty when the name cannot be read
  std::string kernel;     // "Linux 6.1.0-18-amd64 x86_64"
  std::string processor;  // the model name; empty when cpuinfo names none
};

// The processor's name from cpuinfo: the first "model name" (x86, and
// some ARM kernels), else "Hardware", else the ARM implementer and part
// numbers; empty when the file names none or cannot be read.
std::string processor_name(const std::string& cpuinfo = "/proc/cpuinfo");

HostFacts host_facts(const std::string& cpuinfo = "/proc/cpuinfo");

}  // namespace dravik
