// An anonymous pipe inside the process: the progressive loader pushes a
// scene file's bytes into the write end while its reader threads decode from
// the read end. A small buffer keeps the writer no more than a few kilobytes
// ahead of the readers, so a paced writer really paces what the readers see.
//
// Descriptors are plain ints (-1 for none); every call retries on EINTR.
#pragma once

#include <cstddef>

namespace qx {

struct PipeEnds {
  int read = -1;
  int write = -1;
};

// Opens a pipe and asks for `capacity` bytes of buffer (best effort: the
// system may round it up or keep its default). False when no pipe could be
// created; `ends` is then left at -1.
bool OpenPipe(PipeEnds& ends, int capacity);

// Writes all `count` bytes, waiting while the pipe is full. False on an
// error. The caller keeps the read end open while it writes (a pipe without
// readers would end the process with a broken-pipe signal).
bool WriteFully(int descriptor, const void* data, size_t count);

// Reads and drops everything up to the end of the data (the write end
// closed) or the first error, so that a writer never waits on a reader that
// has stopped listening.
void DrainDescriptor(int descriptor);

// Closes `descriptor` when it is open and sets it to -1.
void CloseDescriptor(int& descriptor);

}  // namespace qx
