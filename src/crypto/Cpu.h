// Which instruction-set extensions the crypto code may use. Detected once at run time; tests
// can force the portable code paths so that they stay covered on machines with the extensions.
#pragma once

namespace kestel {

enum class CpuPath { Best, PortableOnly };

// Selects the code paths for every later call (process-wide, not thread-safe; for tests and
// benchmarks).
void setCpuPath(CpuPath path);

// True when AES-NI may be used (present and not forced off).
bool useAesNi();

// True when the SHA extensions (with SSSE3/SSE4.1) may be used (present and not forced off).
bool useShaNi();

// True when the 256-bit AES instructions (VAES with AVX2, and the system saving the wide
// registers) may be used on top of AES-NI (present and not forced off).
bool useVaes();

// True when the carry-less multiply and the two carry chains (BMI2 mulx, ADX adcx/adox) may be
// used (present and not forced off).
bool useMulxAdx();

} // namespace kestel
