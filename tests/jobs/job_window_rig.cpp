#include "job_window_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QThread>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "EmbeddedImage.h"
#include "FirmwareBlock.h"
#include "form_controls.h"
#include "scan_rig.h"

namespace jobtest {

using namespace updater;

namespace {

std::atomic<int> open_devices{0};

// The real functions behind the counting ones; set once per loaded library (the same each
// time, as a loaded library stays loaded).
std::atomic<TQlLibrary::OpenDeviceFn*> real_ql_open{nullptr};
std::atomic<TQlLibrary::CloseDeviceFn*> real_ql_close{nullptr};
std::atomic<TFtdiLibrary::OpenExFn*> real_ft_open{nullptr};
std::atomic<TFtdiLibrary::HandleFn*> real_ft_close{nullptr};

uint32_t CountedQlOpen(uint16_t list_code, const char* serial, uint32_t* handle) {
  const uint32_t status = real_ql_open.load()(list_code, serial, handle);
  if (status == 0 && handle != nullptr && *handle != 0) {
    ++open_devices;
  }
  return status;
}

uint32_t CountedQlClose(uint32_t* handle) {
  if (handle != nullptr && *handle != 0) {
    --open_devices;
  }
  return real_ql_close.load()(handle);
}

FT_STATUS CountedFtOpen(void* arg, DWORD flags, FT_HANDLE* handle) {
  const FT_STATUS status = real_ft_open.load()(arg, flags, handle);
  if (status == FT_OK && handle != nullptr && *handle != nullptr) {
    ++open_devices;
  }
  return status;
}

FT_STATUS CountedFtClose(FT_HANDLE handle) {
  if (handle != nullptr) {
    --open_devices;
  }
  return real_ft_close.load()(handle);
}

}  // namespace

bool Eventually(const std::function<bool()>& pred, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > timeout_ms) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

int OpenDevices() {
  return open_devices.load();
}

TLibraryLoaders CountingLoaders() {
  TLibraryLoaders loaders;
  loaders.Ftdi = [](const std::string&) {
    auto library = LoadFtdiLibrary(discovery_test::BinDir() + "d2xx-sim/");
    if (library) {
      real_ft_open = library->FT_OpenEx;
      real_ft_close = library->FT_Close;
      library->FT_OpenEx = CountedFtOpen;
      library->FT_Close = CountedFtClose;
    }
    return library;
  };
  loaders.Ql = [](const std::string&) {
    auto library = LoadQLLibrary(discovery_test::BinDir());
    if (library) {
      real_ql_open = library->QL_OpenDevice;
      real_ql_close = library->QL_CloseDevice;
      library->QL_OpenDevice = CountedQlOpen;
      library->QL_CloseDevice = CountedQlClose;
    }
    return library;
  };
  return loaders;
}

Window::Window(bool auto_write, std::vector<std::string> args, std::function<void()> while_box_open)
    : form_(std::make_unique<TMainForm>(std::move(args))) {
  dialogs.while_open = std::move(while_box_open);
  form_->SetDialogs(dialogs);
  form_->Session().SetLibraryLoaders(CountingLoaders());
  form_->show();
  // Before the first scan: whatever the settings file said, the test decides.
  FormUi(*form_).cbAutoWrite->setChecked(auto_write);
}

Window::~Window() {
  Close();
}

void Window::Close() {
  if (!form_) {
    return;
  }
  // The settings go beside the test binary: leave automatic flashing off for the next window.
  FormUi(*form_).cbAutoWrite->setChecked(false);
  form_.reset();
}

TDevEntry* Window::Device(int32_t serial) const {
  return const_cast<TDevEntry*>(form_->Session().DeviceBySerial(serial));
}

TFWLoaderDevGroup* Window::Panel(int32_t serial) const {
  const TDevEntry* dev = Device(serial);
  return dev == nullptr ? nullptr : form_->Panel(dev->Id);
}

bool Window::Idle() const {
  return !form_->Session().ScanRunning() && !form_->Session().RescanPending();
}

bool Window::Settled(size_t devices) const {
  return form_->Session().DeviceCount() == devices && Idle() && form_->Session().RunningJobs() == 0;
}

QStringList Window::LogLines() const {
  form_->ShowFrameNow();
  return FormUi(*form_).reLog->toPlainText().split(QLatin1Char('\n'));
}

QColor Window::LastLineColour() const {
  form_->ShowFrameNow();
  return FormUi(*form_)
      .reLog->document()
      ->lastBlock()
      .begin()
      .fragment()
      .charFormat()
      .foreground()
      .color();
}

}  // namespace jobtest
