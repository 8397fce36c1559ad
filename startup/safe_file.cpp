// Temporary file, fsync, rename: the usual way to replace a small file whole.
#include "startup/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// A settings file linked from elsewhere (a dotfiles folder) is replaced where
// it lives; renaming over the link would turn it into a plain copy.
std::string link_target(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;  // dangling: the link itself is replaced
  std::string target = real;
  std::free(real);
  return target;
}

}  // namespace

void sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool replace_file(const std::string& path, const std::string& content, std::string& error) {
  const std::string target = link_target(path);
  std::vector<char> name(target.begin(), target.end());
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
  if (stat(target.c_str(), &old) == 0) mode = old.st_mode & 07777;
  fchmod(fd, mode);
  bool ok = write_all(fd, content) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(name.data(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(name.data());
    error = std::strerror(saved);
    return false;
  }
  sync_folder(folder_of(target));
  return true;
}

bool save_user_file(const std::string& path, void (*write)(std::FILE*)) {
  char* data = nullptr;
  std::size_t size = 0;
  std::string error;
  bool ok = false;
  if (std::FILE* stream = open_memstream(&data, &size)) {
    write(stream);
    const bool written = std::ferror(stream) == 0;
    // The size counts every byte written, NULs of unbound keys included.
    if (std::fclose(stream) == 0 && written) {
      ok = replace_file(path, std::string(data, size), error);
    } else {
      error = std::strerror(ENOMEM);
    }
  } else {
    error = std::strerror(errno);
  }
  std::free(data);
  if (!ok) std::fprintf(stderr, "zbx3d: cannot save %s: %s\n", path.c_str(), error.c_str());
  return ok;
}

}  // namespace zbx
