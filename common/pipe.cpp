#include "common/pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qx {

bool OpenPipe(PipeEnds& ends, int capacity) {
  int descriptors[2];
  ends = PipeEnds{};
  if (::pipe(descriptors) != 0) return false;
  ends.read = descriptors[0];
  ends.write = descriptors[1];
#ifdef F_SETPIPE_SZ
  // Linux rounds up to a page; without this the buffer is 64 KiB and a paced
  // feed would run far ahead of what the readers have decoded.
  ::fcntl(ends.write, F_SETPIPE_SZ, capacity);
#else
  (void)capacity;
#endif
  return true;
}

bool WriteFully(int descriptor, const void* data, size_t count) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t written = ::write(descriptor, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

void DrainDescriptor(int descriptor) {
  char scratch[4096];
  for (;;) {
    const ssize_t got = ::read(descriptor, scratch, sizeof scratch);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
}

void CloseDescriptor(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

}  // namespace qx
