#include "WriteThread.h"

#include <algorithm>
#include <cstdarg>
#include <exception>

#include "CommandSet.h"
#include "Compatibility.h"
#include "TextFormat.h"
#include "Tick.h"

namespace updater {

TWriteThread::TWriteThread(TDispatcher& dispatcher, TWriteHost& host, const TDeviceChannel& channel,
                           TDevEntry& device)
    : TWorkerThread(dispatcher), Device(device), host_(host), channel_(channel) {
  sink_ = [this](int kind, int32_t serial, const std::string& text) {
    host_.LogDevLine(kind, serial, text);
  };
}

void TWriteThread::Abandon() {
  abandoned_ = true;
  Terminate();
}

void TWriteThread::HandOver(int level, std::string text) {
  if (abandoned_) {
    return;
  }
  MsgLevel = static_cast<uint8_t>(level);
  MsgText = std::move(text);
  if (!HandOverLine(sink_, MsgLevel, Device.Serial, MsgText)) {
    Abandon();
  }
}

void TWriteThread::ThreadLog(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  HandOver(level, std::move(text));
}

void TWriteThread::ShowProgress() {
  if (abandoned_ || TotalParts <= 0) {
    return;
  }
  // The bar reaches 100 only when every part is done.
  const int percent = static_cast<int>(static_cast<long double>(PartsDone) / TotalParts * 100);
  if (dispatcher_.ShuttingDown()) {
    Abandon();
    return;
  }
  host_.ShowProgress(Device, percent);
  ShowSteps();
}

void TWriteThread::ShowSteps() {
  Steps.TotalParts = TotalParts;
  Steps.PartsDone = PartsDone;
  if (requests_ != nullptr) {
    Steps.Retries = requests_->Retries();
  }
  Steps.FlashMs =
      flash_start_tick_ == 0 ? 0 : static_cast<int32_t>(TickCount() - flash_start_tick_);
  Steps.ElapsedMs = ElapsedMs();
  if (!abandoned_ && !dispatcher_.ShuttingDown()) {
    host_.ShowSteps(Device, Steps);
  }
}

int64_t EstimateMsLeft(const TJobSteps& steps) {
  const int64_t done = steps.SectorsErased + steps.PartsWritten;
  const int64_t left = std::max(0, steps.SectorsToWrite - steps.SectorsErased) +
                       std::max(0, steps.PartsToWrite - steps.PartsWritten);
  if (left == 0) {
    return 0;
  }
  if (done == 0 || steps.FlashMs <= 0) {
    return -1;
  }
  return left * steps.FlashMs / done;
}

int32_t TWriteThread::ElapsedMs() const {
  return static_cast<int32_t>(TickCount() - StartTick);
}

void TWriteThread::PartWritten() {
  ++PartsDone;
  ++Steps.PartsWritten;
  ShowProgress();
}

TWriteThread::TLoad TWriteThread::LoadImage() {
  bool loaded = false;
  try {
    if (!Synchronize([&] { loaded = host_.LoadFirmware(Blocks, ImageVersion); })) {
      Abandon();
      return TLoad::Refused;
    }
  } catch (const std::exception& error) {
    // An image the loader refuses by raising (an oversize block) fails this job only.
    ThreadLog(kLogError, "%s", error.what());
    return TLoad::Failed;
  } catch (...) {
    return TLoad::Failed;
  }
  return loaded ? TLoad::Loaded : TLoad::Failed;
}

void TWriteThread::SelectSectorMap() {
  const TSectorMapChoice choice = ChooseSectorMap(Device.ProcessorId, Device.BootVersion.Suffix);
  if (!choice.KnownProcessor) {
    ThreadLog(kLogNormal, "Неизвестный идентификатор %08X", Device.ProcessorId);
  }
  SectorMap = choice.Map;
  FirstSector = SectorMap->FirstSector;
  LastSector = SectorMap->LastSector;
}

int32_t TWriteThread::SectorParts(int32_t sector) const {
  return SectorMap->Sectors[static_cast<size_t>(sector)].Size / 512;
}

bool TWriteThread::SectorEmpty(int32_t sector) const {
  const TSector& place = SectorMap->Sectors[static_cast<size_t>(sector)];
  const auto begin = Image.begin() + place.Address;
  return std::all_of(begin, begin + place.Size, [](uint8_t byte) { return byte == 0xFF; });
}

int32_t TWriteThread::BuildImage() {
  if (SectorMap == nullptr || FirstSector < 0 || LastSector < 0 || LastSector < FirstSector ||
      static_cast<size_t>(LastSector) >= SectorMap->Sectors.size()) {
    return kWriteNoSectorMap;
  }
  const uint32_t image_size = SectorMap->WritableEnd();
  if (image_size > kMaxFlashImageSize) {
    return kWriteNoSectorMap;
  }
  Image.assign(image_size, 0xFF);
  const int64_t first_address = SectorMap->Sectors[static_cast<size_t>(FirstSector)].Address;
  for (const auto& block : Blocks) {
    // The loader gives an image's single block no address: it goes to the first sector.
    const int64_t destination = block->Address >= 0 ? block->Address : first_address;
    const auto size = static_cast<int64_t>(block->Data.size());
    if (destination + size > static_cast<int64_t>(image_size)) {
      return kWriteBlockOutside;
    }
    std::copy(block->Data.begin(), block->Data.end(), Image.begin() + destination);
  }
  while (LastSector >= FirstSector && SectorEmpty(LastSector)) {
    --LastSector;
  }
  if (LastSector < FirstSector) {
    return kWriteNoData;
  }
  const TSector& last = SectorMap->Sectors[static_cast<size_t>(LastSector)];
  TotalParts = static_cast<int32_t>((last.Address + last.Size - first_address) / 512);
  return kWriteSucceeded;
}

void TWriteThread::RunSectors() {
  ThreadLog(kLogNormal, "Прошивается сектора с %d по %d", FirstSector, LastSector);
  PartsDone = 0;
  for (int32_t sector = FirstSector; sector <= LastSector; ++sector) {
    if (!SectorEmpty(sector)) {
      ++Steps.SectorsToWrite;
      Steps.PartsToWrite += SectorParts(sector);
    }
  }
  if (abandoned_) {
    // Shutting down before the device was touched: leave it alone.
    ResultCode = kWriteInterrupted;
    return;
  }
  if (!channel_.DevOpen(Device)) {
    ThreadLog(kLogError, "Не удалось открыть устройство");
    Terminate();
  }
  TFlashRequests requests(channel_, Device, *SectorMap, Image,
                          UsesNewerCommands(Device.ProcessorId, Device.BootVersion, ImageVersion),
                          StartTick, *this);
  requests_ = &requests;
  // The pace is measured from the first request on: the image load and the open are no part of
  // what is left.
  flash_start_tick_ = TickCount();
  if (flash_start_tick_ == 0) {
    flash_start_tick_ = 1;
  }
  int32_t sector = FirstSector;
  for (; sector <= LastSector && !Stopped(); ++sector) {
    ThreadLog(kLogNormal, "(% 6d) Перепрошивка сектора %d:", ElapsedMs(), sector);
    if (SectorEmpty(sector)) {
      ThreadLog(kLogNormal, "(% 6d) Сектор %d пустой. Пропускаем.", ElapsedMs(), sector);
      PartsDone += SectorParts(sector);
      ShowProgress();
      continue;
    }
    if (!requests.EraseSector(sector)) {
      ResultCode = kWriteEraseFailed;
      break;
    }
    ++Steps.SectorsErased;
    ShowSteps();
    if (!requests.WriteSector(sector)) {
      if (!requests.Stopped()) {
        ResultCode = kWriteWriteFailed;
      }
      break;
    }
    ++Steps.SectorsWritten;
  }
  LastReply = requests.LastReply();
  Steps.Retries = requests.Retries();
  Steps.FlashMs = static_cast<int32_t>(TickCount() - flash_start_tick_);
  requests_ = nullptr;
  // A loop the terminate flag (or a refused hand-over) cut short has not written the image.
  if (ResultCode == kWriteSucceeded && sector <= LastSector) {
    ResultCode = kWriteInterrupted;
  }
  requests.SendFinish(ResultCode == kWriteSucceeded);
  channel_.DevClose(Device);
}

void TWriteThread::Execute() {
  Blocks.clear();
  ResultCode = kWriteSucceeded;
  LastReply = 0;
  StartTick = TickCount();
  FirstSector = LastSector = -1;
  SectorMap = nullptr;
  Image.clear();
  Steps = TJobSteps{};
  requests_ = nullptr;
  flash_start_tick_ = 0;

  switch (LoadImage()) {
    case TLoad::Refused:
      ResultCode = kWriteInterrupted;
      break;
    case TLoad::Failed:
      ResultCode = kWriteLoadFailed;
      break;
    case TLoad::Loaded:
      SelectSectorMap();
      ResultCode = BuildImage();
      if (!CheckCompatibility(Device, ImageVersion)) {
        ResultCode = kWriteIncompatible;
      }
      if (ResultCode == kWriteSucceeded) {
        RunSectors();
      }
      break;
  }

  FreeBlocks(Blocks);
  Image.clear();
  Image.shrink_to_fit();
  Elapsed = static_cast<int32_t>(TickCount() - StartTick);
  Steps.TotalParts = TotalParts;
  Steps.PartsDone = PartsDone;
  Steps.ElapsedMs = Elapsed;
}

}  // namespace updater
