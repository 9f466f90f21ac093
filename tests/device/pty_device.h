#pragma once
// The device side of a line, played by a test: a pseudo-terminal (the maker's kind) or a
// Unix-domain socket (the FTDI kind, as the stand-in D2XX reaches it); and a scratch device
// directory to publish it in under either library's naming convention.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace testing_pty {

class TDeviceEnd {
 public:
  virtual ~TDeviceEnd() = default;
  // What a library opens: the pty's slave, or the socket file.
  virtual const std::string& Path() const = 0;
  // Bytes the device sends; returns once the program's receive queue holds them all.
  virtual void Send(std::string_view bytes) = 0;
  // Exactly n bytes the device received; fewer when nothing more came within 5 s.
  virtual std::string Receive(size_t n) = 0;
  // Bytes waiting for the program to read.
  virtual uint32_t Queued() const = 0;
  // The device vanishes under an open handle.
  virtual void Hangup() = 0;
};

class TPtyDevice : public TDeviceEnd {
 public:
  TPtyDevice();  // a fresh pty, raw mode
  ~TPtyDevice() override;
  TPtyDevice(const TPtyDevice&) = delete;
  TPtyDevice& operator=(const TPtyDevice&) = delete;

  const std::string& Path() const override { return tty_path_; }
  const std::string& TtyPath() const { return tty_path_; }
  void Send(std::string_view bytes) override;
  std::string Receive(size_t n) override;
  uint32_t Queued() const override;
  // The master side closes.
  void Hangup() override;

 private:
  int master_ = -1;
  int slave_ = -1;  // held open so that the tty keeps its queue between opens
  std::string tty_path_;
};

// Listens on a socket file of its own; the client that connected last is the one it talks to,
// so a program may close and open the device again between exchanges.
class TSocketDevice : public TDeviceEnd {
 public:
  TSocketDevice();
  ~TSocketDevice() override;
  TSocketDevice(const TSocketDevice&) = delete;
  TSocketDevice& operator=(const TSocketDevice&) = delete;

  const std::string& Path() const override { return path_; }
  void Send(std::string_view bytes) override;
  std::string Receive(size_t n) override;
  uint32_t Queued() const override;
  // Every connection and the listening socket close; the file goes.
  void Hangup() override;

 private:
  // The newest client; waits up to 5 s for one when none has connected yet and wait_for_one.
  int Connection(bool wait_for_one = true);

  std::string dir_;
  std::string path_;
  int listen_ = -1;
  int conn_ = -1;
};

// A fresh device of the kind a driver serves: 0 FTDI (socket), else the maker's (pty).
std::unique_ptr<TDeviceEnd> MakeDevice(uint32_t driver);

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
