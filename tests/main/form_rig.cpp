#include "form_rig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace updater::test {

namespace {

FT_STATUS NoFtdiDevices(DWORD* count) {
  *count = 0;
  return FT_OK;
}

FT_STATUS NoFtdiNodes(FT_DEVICE_LIST_INFO_NODE*, DWORD* count) {
  *count = 0;
  return FT_OK;
}

uint32_t NoQlDevices(uint32_t, void*, uint32_t* count) {
  *count = 0;
  return 0;
}

}  // namespace

std::unique_ptr<TFtdiLibrary> EmptyFtdi(const std::string&) {
  auto table = std::make_unique<TFtdiLibrary>();
  table->FT_CreateDeviceInfoList = NoFtdiDevices;
  table->FT_GetDeviceInfoList = NoFtdiNodes;
  return table;
}

std::unique_ptr<TQlLibrary> EmptyQl(const std::string&) {
  auto table = std::make_unique<TQlLibrary>();
  table->QL_GetListDevices = NoQlDevices;
  return table;
}

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!pred()) {
    if (deadline.hasExpired()) {
      return pred();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    Pump(5);
  }
  return true;
}

}  // namespace updater::test
