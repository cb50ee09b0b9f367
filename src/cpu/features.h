// What the processor running this offers the kernels, for the reports.
#pragma once

namespace dravik::cpu {

// The vector kind and store the line kernels use, as the qualification's
// inventory and evidence name it.
#if defined(__x86_64__)
inline constexpr const char* kSimdName = "sse2-nt";
#elif defined(__aarch64__)
inline constexpr const char* kSimdName = "neon-nt";
#elif defined(__arm__)
// Plain 32-bit loads and stores through the cache: the armhf baseline has
// neither NEON nor a non-temporal store.
inline constexpr const char* kSimdName = "arm32-scalar";
#endif

}  // namespace dravik::cpu
