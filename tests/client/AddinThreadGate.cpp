#include "AddinThreadGate.h"

#include <cstring>

namespace quil::test {

namespace {

AddinThreadGate* g_gate = nullptr;

// The import-address-table entry through which `module` calls kernel32's CreateThread.
void** FindCreateThreadSlot(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       import->Name != 0; ++import) {
    if (_stricmp(reinterpret_cast<const char*>(base + import->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "CreateThread") == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

void WriteSlot(void** slot, void* value) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
  *slot = value;
  VirtualProtect(slot, sizeof(void*), protection, &protection);
}

}  // namespace

bool AddinThreadGate::Close(HMODULE module) {
  slot_ = FindCreateThreadSlot(module);
  if (!slot_) return false;
  original_ = *slot_;
  g_gate = this;
  WriteSlot(slot_, reinterpret_cast<void*>(&CreateHeldThread));
  return true;
}

void AddinThreadGate::Open() {
  if (!slot_) return;
  WriteSlot(slot_, original_);
  slot_ = nullptr;
  sim::Guard hold(lock_);
  for (auto& thread : held_) ResumeThread(thread.get());
  held_.clear();
}

size_t AddinThreadGate::HeldThreads() {
  sim::Guard hold(lock_);
  return held_.size();
}

HANDLE WINAPI AddinThreadGate::CreateHeldThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                                LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                                DWORD flags, LPDWORD threadId) {
  HANDLE thread = CreateThread(attributes, stackSize, start, parameter, flags | CREATE_SUSPENDED,
                               threadId);
  if (thread) g_gate->Hold(thread);
  return thread;
}

void AddinThreadGate::Hold(HANDLE thread) {
  // The module closes its handle at once; the gate keeps one of its own to resume the thread.
  HANDLE own = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  sim::Guard hold(lock_);
  held_.emplace_back(own);
}

}  // namespace quil::test
