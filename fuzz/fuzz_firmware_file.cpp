// Arbitrary bytes as an image file on disk or as a stream (a pipe), read with a limit the
// input chooses: the reader must give back exactly the file's bytes, or say it is too large
// (with the length word judged right), and never more than the limit.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FirmwareFileReader.h"

using namespace updater;

namespace {

std::string FdPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SameBytes(const TFirmwareFile& file, const uint8_t* data, size_t size) {
  return file.Status == TFirmwareFile::kRead && file.Bytes.size() == size &&
         std::equal(file.Bytes.begin(), file.Bytes.end(), data);
}

// A regular file, rewritten in place for every input.
void CheckFile(const uint8_t* bytes, size_t length, size_t limit) {
  static const int memfd = ::memfd_create("fuzz-image", MFD_CLOEXEC);
  if (memfd < 0 || ::ftruncate(memfd, 0) != 0 || ::lseek(memfd, 0, SEEK_SET) != 0 ||
      !WriteAll(memfd, bytes, length)) {
    __builtin_trap();
  }
  const TFirmwareFile file = ReadFirmwareFile(FdPath(memfd), limit);
  if (length <= limit) {
    if (!SameBytes(file, bytes, length)) {
      __builtin_trap();
    }
    return;
  }
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i) {
    word |= uint32_t{bytes[i]} << (8 * i);
  }
  if (file.Status != TFirmwareFile::kTooLarge || !file.Bytes.empty() ||
      file.LengthWordMatches != ((word & 0x7FFFFFFFu) == length)) {
    __builtin_trap();
  }
}

// A pipe whose writer has gone: counted by what it gives.
void CheckPipe(const uint8_t* bytes, size_t length, size_t limit) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    __builtin_trap();
  }
  const bool written = WriteAll(ends[1], bytes, length);
  ::close(ends[1]);
  if (!written) {
    __builtin_trap();
  }
  const TFirmwareFile stream = ReadFirmwareFile(FdPath(ends[0]), limit);
  ::close(ends[0]);
  const bool right = length <= limit ? SameBytes(stream, bytes, length)
                                     : stream.Status == TFirmwareFile::kTooLarge &&
                                           stream.Bytes.empty() && !stream.LengthWordMatches;
  if (!right) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // Any image file holds its 4-byte length word; the real limit is far above. The top bit
  // chooses a pipe instead of a file.
  const size_t limit = 4 + data[0] % 64;
  const bool piped = (data[0] & 0x80) != 0;
  if (!piped) {
    CheckFile(data + 1, size - 1, limit);
  } else if (size - 1 <= 60000) {  // the whole input must fit the pipe's buffer
    CheckPipe(data + 1, size - 1, limit);
  }
  return 0;
}
