#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool AppendToFileExclusive(const std::string& path, const void* data, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Win32 refuses a second opener outright; flock is the POSIX way to say the
  // same to every writer that asks (it cannot stop one that does not).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || lseek(fd, 0, SEEK_END) < 0) {
    close(fd);
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  bool ok = true;
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  close(fd);
  return ok;
}

}  // namespace platform
