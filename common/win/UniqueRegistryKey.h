// Owning wrapper for registry keys.
#pragma once

#include <windows.h>

#include "UniqueHandle.h"

namespace quil {

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};

using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

}  // namespace quil
