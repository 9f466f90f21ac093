#include "FirmwareFileReader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace updater {

namespace {

constexpr uint32_t kLengthMask = 0x7FFFFFFFu;  // bit 31 is the build-date flag

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads until count bytes, the end of the file or an error; returns the bytes read, or -1 on
// an error before the end.
ssize_t ReadUpTo(int fd, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

TFirmwareFile Status(TFirmwareFile::TStatus status) {
  TFirmwareFile file;
  file.Status = status;
  return file;
}

}  // namespace

TFirmwareFile ReadFirmwareFile(const std::string& path, size_t limit) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
    return Status(TFirmwareFile::kNotFound);
  }
  // O_NONBLOCK: a pipe without a writer must not hang the program; it reads as empty.
  const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
    return Status(TFirmwareFile::kUnreadable);
  }
  // Only another holder refuses the open; a file system without flock still reads.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return Status(TFirmwareFile::kUnreadable);
  }

  TFirmwareFile file;
  if (S_ISREG(info.st_mode)) {
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > limit) {
      uint8_t word[4] = {};
      if (ReadUpTo(fd.get(), word, sizeof word) != static_cast<ssize_t>(sizeof word)) {
        return Status(TFirmwareFile::kUnreadable);
      }
      const uint32_t length = (uint32_t{word[0]} | uint32_t{word[1]} << 8 |
                               uint32_t{word[2]} << 16 | uint32_t{word[3]} << 24) &
                              kLengthMask;
      file.Status = TFirmwareFile::kTooLarge;
      file.LengthWordMatches = length == size;
      return file;
    }
    file.Bytes.resize(static_cast<size_t>(size));
    if (ReadUpTo(fd.get(), file.Bytes.data(), file.Bytes.size()) !=
        static_cast<ssize_t>(file.Bytes.size())) {
      return Status(TFirmwareFile::kUnreadable);
    }
    file.Status = TFirmwareFile::kRead;
    return file;
  }

  // A device or a pipe has no length of its own: it counts by what it gives.
  file.Bytes.resize(limit + 1);
  const ssize_t got = ReadUpTo(fd.get(), file.Bytes.data(), file.Bytes.size());
  if (got < 0) {
    return Status(TFirmwareFile::kUnreadable);
  }
  if (static_cast<size_t>(got) > limit) {
    return Status(TFirmwareFile::kTooLarge);
  }
  file.Bytes.resize(static_cast<size_t>(got));
  file.Status = TFirmwareFile::kRead;
  return file;
}

}  // namespace updater
