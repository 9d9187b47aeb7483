// Owning wrappers for GDI objects: device contexts and enhanced metafiles.
#pragma once

#include <windows.h>

#include "UniqueHandle.h"

namespace quil {

struct DeviceContextTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle dc) { DeleteDC(dc); }
};

struct EnhMetaFileTraits {
  using Handle = HENHMETAFILE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle metafile) { DeleteEnhMetaFile(metafile); }
};

// A device context from CreateDCW (not one from GetDC, which is released, not deleted).
using UniqueDC = UniqueResource<DeviceContextTraits>;
using UniqueEnhMetaFile = UniqueResource<EnhMetaFileTraits>;

}  // namespace quil
