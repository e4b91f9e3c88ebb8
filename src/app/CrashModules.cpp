#include "app/CrashModules.h"

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kestel {
namespace {

constexpr size_t kNamePool = 64 * 1024;
constexpr size_t kTableBytes = CrashModules::kMaxModules * sizeof(CrashModule);

} // namespace

bool CrashModules::prepare() {
  if (modules_)
    return true;
  void* memory = ::mmap(nullptr, kTableBytes + kNamePool, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED)
    return false;
  modules_ = static_cast<CrashModule*>(memory);
  names_ = static_cast<char*>(memory) + kTableBytes;
  return true;
}

void CrashModules::take() {
  count_ = 0;
  namesUsed_ = 0;
  if (modules_)
    ::dl_iterate_phdr(&CrashModules::onModule, this);
}

const char* CrashModules::keepName(const char* name) {
  size_t length = 0;
  while (name[length])
    ++length;
  if (namesUsed_ + length + 1 > kNamePool)
    return nullptr;
  char* kept = names_ + namesUsed_;
  for (size_t i = 0; i <= length; ++i)
    kept[i] = name[i];
  namesUsed_ += length + 1;
  return kept;
}

int CrashModules::onModule(dl_phdr_info* info, size_t, void* self) {
  auto& me = *static_cast<CrashModules*>(self);
  if (me.count_ == kMaxModules)
    return 1;
  CrashModule m;
  m.bias = info->dlpi_addr;
  bool any = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD)
      continue;
    uintptr_t start = info->dlpi_addr + ph.p_vaddr;
    uintptr_t stop = start + ph.p_memsz;
    if (!any || start < m.base)
      m.base = start;
    if (!any || stop > m.end)
      m.end = stop;
    any = true;
  }
  if (!any)
    return 0;
  m.base &= ~uintptr_t(::getpagesize() - 1);
  // The program itself comes without a name; the kernel knows its path.
  char path[4096];
  const char* name = info->dlpi_name;
  if (!name || !*name) {
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    name = path;
  }
  m.name = me.keepName(name);
  if (!m.name)
    return 0;
  me.modules_[me.count_++] = m;
  return 0;
}

const CrashModule* CrashModules::find(uintptr_t address) const {
  for (size_t i = 0; i < count_; ++i)
    if (address >= modules_[i].base && address < modules_[i].end)
      return &modules_[i];
  return nullptr;
}

} // namespace kestel
