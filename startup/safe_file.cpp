// Temporary file, fsync, rename: the usual way to replace a small file whole.
#include "startup/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zbx {

namespace {

bool write_all(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The folder's entry for the new name reaches the disk too.
void sync_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool replace_file(const std::string& path, const std::string& content, std::string& error) {
  std::vector<char> name(path.begin(), path.end());
  const char suffix[] = ".tmp.XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);  // with its NUL
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  // The new file keeps the old one's permissions (mkstemp makes it 0600).
  struct stat old {};
  mode_t mode = 0644;
  if (stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  fchmod(fd, mode);
  bool ok = write_all(fd, content) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(name.data(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(name.data());
    error = std::strerror(saved);
    return false;
  }
  sync_folder(path);
  return true;
}

}  // namespace zbx
