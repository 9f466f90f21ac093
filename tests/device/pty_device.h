#pragma once
// The device side of a pseudo-terminal, played by a test, and a scratch device directory
// to publish it in under either library's naming convention.

#include <cstdint>
#include <string>
#include <string_view>

namespace testing_pty {

class TPtyDevice {
 public:
  TPtyDevice();  // a fresh pty, raw mode
  ~TPtyDevice();
  TPtyDevice(const TPtyDevice&) = delete;
  TPtyDevice& operator=(const TPtyDevice&) = delete;

  const std::string& TtyPath() const { return tty_path_; }
  // Bytes the device sends; returns once the tty's receive queue holds them all.
  void Send(std::string_view bytes);
  // Exactly n bytes the device received; fewer when nothing more came within 5 s.
  std::string Receive(size_t n);
  // Bytes waiting for the program to read.
  uint32_t Queued() const;
  // The device vanishes: the master side closes.
  void Hangup();

 private:
  int master_ = -1;
  int slave_ = -1;  // held open so that the tty keeps its queue between opens
  std::string tty_path_;
};

class TDeviceDir {
 public:
  TDeviceDir();  // a fresh temporary folder
  ~TDeviceDir();
  TDeviceDir(const TDeviceDir&) = delete;
  TDeviceDir& operator=(const TDeviceDir&) = delete;

  const std::string& Path() const { return path_; }
  void Link(const std::string& name, const std::string& target) const;
  void WriteFile(const std::string& name, const std::string& text) const;
  void Remove(const std::string& name) const;

 private:
  std::string path_;
};

// The entry names the two libraries look for.
std::string MakerEntry(const std::string& serial, int interface_number = 0);

}  // namespace testing_pty
