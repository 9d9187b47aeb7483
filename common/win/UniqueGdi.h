// Owning wrappers for GDI objects: device contexts, enhanced metafiles, pens, brushes and fonts.
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

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle object) { DeleteObject(object); }
};

// A device context from CreateDCW (not one from GetDC, which is released, not deleted).
using UniqueDC = UniqueResource<DeviceContextTraits>;
using UniqueEnhMetaFile = UniqueResource<EnhMetaFileTraits>;
// A pen, brush, font or bitmap; it must not be selected into a device context when it goes.
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

}  // namespace quil
