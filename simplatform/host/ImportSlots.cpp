#include "ImportSlots.h"

#include <cstring>

namespace sim::host {
namespace {

// Makes one pointer-sized slot writable for the life of the object, then restores its protection.
class WritableSlot {
 public:
  explicit WritableSlot(void** slot) : slot_(slot) {
    writable_ = VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &oldProtection_) != FALSE;
  }
  ~WritableSlot() {
    DWORD ignored = 0;
    if (writable_) VirtualProtect(slot_, sizeof(void*), oldProtection_, &ignored);
  }
  WritableSlot(const WritableSlot&) = delete;
  WritableSlot& operator=(const WritableSlot&) = delete;

  bool Writable() const { return writable_; }

 private:
  void** slot_;
  DWORD oldProtection_ = 0;
  bool writable_ = false;
};

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

const IMAGE_IMPORT_DESCRIPTOR* ImportsOf(HMODULE module) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  if (!module || dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = At<const IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0 || directory.Size == 0) return nullptr;
  return At<const IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
}

// The address table slot of the named function within one DLL's imports; null if it has none.
void** FindSlot(HMODULE module, const IMAGE_IMPORT_DESCRIPTOR& imports, const char* functionName) {
  if (imports.OriginalFirstThunk == 0) return nullptr;  // names not kept: nothing to match against
  const auto* names = At<const IMAGE_THUNK_DATA>(module, imports.OriginalFirstThunk);
  auto* slots = At<IMAGE_THUNK_DATA>(module, imports.FirstThunk);
  for (; names->u1.AddressOfData != 0; ++names, ++slots) {
    if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
    const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
    if (std::strcmp(reinterpret_cast<const char*>(byName->Name), functionName) == 0) {
      return reinterpret_cast<void**>(&slots->u1.Function);
    }
  }
  return nullptr;
}

}  // namespace

void* ReplaceImport(HMODULE module, const char* dllName, const char* functionName, void* replacement) {
  for (const auto* imports = ImportsOf(module); imports && imports->Name != 0; ++imports) {
    if (_stricmp(At<const char>(module, imports->Name), dllName) != 0) continue;
    void** slot = FindSlot(module, *imports, functionName);
    if (!slot) continue;
    const WritableSlot writable(slot);
    if (!writable.Writable()) return nullptr;
    return InterlockedExchangePointer(slot, replacement);
  }
  return nullptr;
}

}  // namespace sim::host
