// The table of extension entry points a GL window fetches by name once its
// context is current. Every name is asked for whether or not the extension
// string lists it; a null pointer is the only sign that an extension is
// missing, so every user tests its pointer before calling it.
//
// Of the whole table the renderer uses the compiled-array pair (optional) and
// glBindBufferARB (only to unbind); the rest is fetched for completeness and
// for later users.
#pragma once

#include <functional>
#include <span>

#include "platform/gl_api.h"

namespace qx {

// The two entry points of the memory allocator for vertex array ranges.
using PFNWGLALLOCATEMEMORYNVPROC = void* (*)(GLsizei size, GLfloat readFrequency, GLfloat writeFrequency,
                                             GLfloat priority);
using PFNWGLFREEMEMORYNVPROC = void (*)(void* pointer);

struct GLExtensions {
  // Buffer objects.
  PFNGLBINDBUFFERARBPROC bindBufferARB = nullptr;
  PFNGLGENBUFFERSARBPROC genBuffersARB = nullptr;
  PFNGLBUFFERDATAARBPROC bufferDataARB = nullptr;
  PFNGLDELETEBUFFERSARBPROC deleteBuffersARB = nullptr;
  PFNGLMAPBUFFERARBPROC mapBufferARB = nullptr;
  PFNGLUNMAPBUFFERARBPROC unmapBufferARB = nullptr;
  // Compiled vertex arrays.
  PFNGLLOCKARRAYSEXTPROC lockArraysEXT = nullptr;
  PFNGLUNLOCKARRAYSEXTPROC unlockArraysEXT = nullptr;
  // Multi-draw.
  PFNGLMULTIDRAWELEMENTSEXTPROC multiDrawElementsEXT = nullptr;
  // Fences.
  PFNGLGENFENCESNVPROC genFencesNV = nullptr;
  PFNGLDELETEFENCESNVPROC deleteFencesNV = nullptr;
  PFNGLSETFENCENVPROC setFenceNV = nullptr;
  PFNGLTESTFENCENVPROC testFenceNV = nullptr;
  PFNGLFINISHFENCENVPROC finishFenceNV = nullptr;
  PFNGLISFENCENVPROC isFenceNV = nullptr;
  PFNGLGETFENCEIVNVPROC getFenceivNV = nullptr;
  // Vertex array range.
  PFNGLFLUSHVERTEXARRAYRANGENVPROC flushVertexArrayRangeNV = nullptr;
  PFNGLVERTEXARRAYRANGENVPROC vertexArrayRangeNV = nullptr;
  PFNWGLALLOCATEMEMORYNVPROC allocateMemoryNV = nullptr;
  PFNWGLFREEMEMORYNVPROC freeMemoryNV = nullptr;
  // Programs.
  PFNGLGENPROGRAMSARBPROC genProgramsARB = nullptr;
  PFNGLDELETEPROGRAMSARBPROC deleteProgramsARB = nullptr;
  PFNGLPROGRAMSTRINGARBPROC programStringARB = nullptr;
  PFNGLBINDPROGRAMARBPROC bindProgramARB = nullptr;
  PFNGLPROGRAMENVPARAMETER4FARBPROC programEnvParameter4fARB = nullptr;
};

// The 25 names in the order they are fetched ("glBindBufferARB" first,
// "glProgramEnvParameter4fARB" last).
std::span<const char* const> ExtensionEntryPointNames();

// Fills the table by asking `lookup` for every name in order; a name the
// lookup answers with null stays null.
GLExtensions LoadExtensions(const std::function<GLProc(const char* name)>& lookup);

}  // namespace qx
