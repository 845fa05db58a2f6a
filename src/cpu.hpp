// What the CPU running this process offers the vector kernels, read once.
#pragma once

namespace gy {

// AVX-512 with byte and word lanes and the byte permutes (F, BW, VBMI).
inline bool cpu_has_avx512_vbmi() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi");
  return has;
}

// AVX-512 with the 52-bit multiply-add lanes (F, IFMA).
inline bool cpu_has_avx512_ifma() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
  return has;
}

inline bool cpu_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace gy
