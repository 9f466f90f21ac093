#include "ScanMerge.h"

#include <QPushButton>
#include <QWidget>
#include <string>

#include "DevPanelGroup.h"
#include "TextFormat.h"

namespace updater {

void CreateDevPanel(TDevEntry& dev, const TScanTarget& target) {
  dev.Panel = std::make_unique<TFWLoaderDevGroup>(
      target.DevPanel, 80 * static_cast<int>(target.DevList->size()), std::to_string(dev.Serial),
      dev.FirmwareVersion.VersionText(), dev.BootMode ? dev.BootVersion.VersionText() : "");
}

void SetDevAreaHeight(const TScanTarget& target) {
  const auto count = static_cast<int>(target.DevList->size());
  target.DevPanel->setMinimumHeight(count == 0 ? kEmptyDevAreaHeight : kDevPanelPitch * count);
}

void MergeScan(TReadVersion& scan, const TScanTarget& target) {
  const auto log = [&](int32_t serial, const std::string& text) {
    target.Log(kLogNormal, serial, text);
  };
  // Why a tracker would not open follows the line that says the cycle failed.
  const auto log_notices = [&] {
    for (const TScanNotice& notice : scan.Notices) {
      target.Log(notice.Kind, notice.Serial, notice.Text);
    }
  };
  if (scan.ErrorCode != 0) {
    // The whole cycle is dropped; a later scan lists its devices again.
    target.Log(kLogError, 0,
               Format("(% 6d)Ошибка %d поиске новых устройств. Последний код ответа прибора %d",
                      scan.ScanTime, scan.ErrorCode, scan.LastReply));
    log_notices();
    return;
  }
  log_notices();
  TDevList& list = *target.DevList;
  {
    std::lock_guard lock(*target.DevListLock);
    // A gone device that is still being written stays until its job ends.
    for (size_t i = 0; i < list.size();) {
      if (list[i]->Removed && list[i]->Writer == nullptr) {
        log(list[i]->Serial, "Прибор отключен");
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  for (auto& owned : scan.NewDevices) {
    TDevEntry* dev = nullptr;
    {
      std::lock_guard lock(*target.DevListLock);
      log(owned->Serial, "Прибор подключен");
      list.push_back(std::move(owned));
      dev = list.back().get();
      CreateDevPanel(*dev, target);
      QPushButton* write = PanelOf(*dev)->btnWrite;
      write->setEnabled(dev->BootMode);
      if (target.ConnectWrite) {
        target.ConnectWrite(write);
      }
      log(dev->Serial, Format("Версия прошивки %s", dev->FirmwareVersion.VersionText().c_str()));
      if (dev->BootMode) {
        log(0, Format("Версия загрузчика %s", dev->BootVersion.VersionText().c_str()));
      }
      log(dev->Serial, Format("Идентификатор процессора 0x%08X", dev->ProcessorId));
      log(dev->Serial, Format("Режим работы - %s", dev->BootMode ? "Загрузчик" : "Прошивка"));
      if (!dev->BootMode && dev->BootStarted) {
        ShowDevMessage(*dev, "Отключите прибор и подключите заново.", kLogSuccess);
      }
    }
    // Clicked outside the lock: starting a job may take the lock itself, and it is not
    // recursive. Nothing else changes the list meanwhile: this is the main thread.
    if (dev->BootMode && target.AutoWrite && target.AutoWrite()) {
      PanelOf(*dev)->btnWrite->click();
    }
  }
  scan.NewDevices.clear();  // emptied slots; the records now belong to DevList
  SetDevAreaHeight(target);
}

}  // namespace updater
