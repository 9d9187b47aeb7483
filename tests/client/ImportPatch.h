// Replaces one function that a loaded module imports, in the module's import address table: the
// module's own calls go to the replacement, everyone else's to the original. Tests use it to put
// the platform's behaviour that Wine does not show under the real add-in.
#pragma once

#include <windows.h>

namespace quil::test {

class ImportPatch {
 public:
  ImportPatch() = default;
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  ~ImportPatch() { Restore(); }

  // Redirects `module`'s import of `function` from `dll` (by name, letter case ignored for the
  // DLL); false if the module does not import it.
  bool Apply(HMODULE module, const char* dll, const char* function, void* replacement);
  // Puts the original back, unless the module has been unloaded meanwhile.
  void Restore();

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace quil::test
