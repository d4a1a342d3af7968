#include <windows.h>

#include <atomic>
#include <cstring>

#include "support/failing_flush.h"

namespace {

std::atomic<int> flushes{0};
std::atomic<int> failing{0};  // the count at which a flush fails; 0: none

BOOL WINAPI counted_flush(HANDLE file);
decltype(&::FlushFileBuffers) real_flush = nullptr;

BOOL WINAPI counted_flush(HANDLE file) {
  if (++flushes == failing.load()) {
    ::SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  }
  return real_flush(file);
}

// The slot of this program's import table through which it calls
// `function` of kernel32, or nullptr.
void** import_slot(const char* function) {
  auto* const base = reinterpret_cast<unsigned char*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    if (::_stricmp(reinterpret_cast<const char*>(base + module->Name), "kernel32.dll") != 0) {
      continue;
    }
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0) {
        return reinterpret_cast<void**>(&slot->u1.Function);
      }
    }
  }
  return nullptr;
}

// Puts `replacement` in the import slot of FlushFileBuffers; returns what was there.
void* redirect_flush(void* replacement) {
  void** slot = import_slot("FlushFileBuffers");
  if (slot == nullptr) return nullptr;
  DWORD protection = 0;
  if (!::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return nullptr;
  void* previous = *slot;
  *slot = replacement;
  ::VirtualProtect(slot, sizeof *slot, protection, &protection);
  return previous;
}

}  // namespace

namespace m3umerge::test {

FailingFlush::FailingFlush(int nth) {
  flushes = 0;
  failing = nth;
  real_flush = reinterpret_cast<decltype(real_flush)>(
      redirect_flush(reinterpret_cast<void*>(&counted_flush)));
}

FailingFlush::~FailingFlush() {
  if (real_flush != nullptr) redirect_flush(reinterpret_cast<void*>(real_flush));
  failing = 0;
}

int FailingFlush::count() const { return flushes.load(); }

}  // namespace m3umerge::test
