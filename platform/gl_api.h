// The OpenGL 1.1 interface with the extension typedefs (PFN...PROC) that the
// view fetches at run time. Extension functions are never linked directly:
// they are reached only through the pointers of view/gl_extensions.h.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

namespace qx {

// Any entry point as the platform returns it; cast to its PFN type to call.
using GLProc = void (*)();

}  // namespace qx
