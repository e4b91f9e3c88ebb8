// The loaded modules (the program, its shared libraries, the vDSO) as the crash report lists
// them: taken with dl_iterate_phdr into a table allocated once, so that taking them inside a
// signal handler allocates nothing. A module's name is its path; the program's own comes from
// /proc/self/exe.
#pragma once

#include <cstddef>
#include <cstdint>

struct dl_phdr_info;

namespace kestel {

struct CrashModule {
  uintptr_t base = 0; // the lowest address of its loaded segments (page-aligned)
  uintptr_t end = 0;  // one past the highest
  uintptr_t bias = 0; // the load bias: an address minus it is the address in the file
  const char* name = "";
};

class CrashModules {
public:
  static constexpr size_t kMaxModules = 512;

  // Allocates the tables; call once, outside any signal handler. Returns false when the memory
  // cannot be had (the report then has no module list).
  bool prepare();
  // Replaces the table with the modules loaded now; safe inside a signal handler once prepared.
  // Modules beyond kMaxModules, or whose names do not fit the name pool, are left out.
  void take();

  size_t count() const { return count_; }
  const CrashModule& at(size_t i) const { return modules_[i]; }
  // The module holding `address`, or null.
  const CrashModule* find(uintptr_t address) const;

private:
  static int onModule(dl_phdr_info* info, size_t size, void* self);
  const char* keepName(const char* name);

  CrashModule* modules_ = nullptr;
  size_t count_ = 0;
  char* names_ = nullptr;
  size_t namesUsed_ = 0;
};

} // namespace kestel
