// Identification of one new device (scan thread): which side runs, its versions and
// processor, and the switch of a running firmware into its boot loader.

#include <cstring>
#include <string_view>

#include "BootFrame.h"
#include "QueryReply.h"
#include "ReadVersion.h"

namespace updater {

namespace {

constexpr uint32_t kQueryTimeoutMs = 100;
constexpr uint32_t kProcessorTimeoutMs = 500;
constexpr uint32_t kVersionTimeoutMs = 2000;
constexpr uint32_t kStartTimeoutMs = 1000;
constexpr int kVersionAttempts = 4;

constexpr const char* kReadVersionCommand = "FL_READ_VERSION$";
constexpr const char* kStartBootCommand = "START_BOOT_LOADER";

}  // namespace

bool TReadVersion::SendFrame(TDevEntry& dev, uint16_t code) {
  const auto frame = BuildBootRequest(code, kBootNoSector, 0);
  return channel_.DevWrite(dev, frame.data(), static_cast<uint32_t>(frame.size()));
}

// Text commands go out as their letters only: no terminator, no line end.
bool TReadVersion::SendText(TDevEntry& dev, const char* command) {
  return channel_.DevWrite(dev, reinterpret_cast<const uint8_t*>(command),
                           static_cast<uint32_t>(std::strlen(command)));
}

bool TReadVersion::IdentifyDevice(TDevEntry& dev) {
  TOpenFailure why;
  const bool opened = channel_.DevOpen(dev, &why);
  NoteOpenResult(dev, why);
  const auto blame = [&] {
    if (!Culprit.Found) {
      Culprit = TScanCulprit{true, dev.Serial, dev.Driver, why.Path};
    }
  };
  if (!opened) {
    ErrorCode = kScanOpenFailed;
    blame();
    return false;
  }
  if (QueryBootLoader(dev)) {
    dev.BootMode = true;
  } else if (!QueryFirmwareVersion(dev)) {
    ErrorCode = kScanNoAnswer;
    blame();
  }
  // Once any device of the cycle has failed, the cycle is discarded: spare the others the
  // boot-loader start.
  if (ErrorCode == 0) {
    if (dev.BootMode) {
      QueryBootInfo(dev);
    } else {
      StartBootLoader(dev);
    }
  }
  channel_.DevClose(dev);
  return ErrorCode == 0;
}

bool TReadVersion::QueryBootLoader(TDevEntry& dev) {
  if (!SendFrame(dev, kBootQueryFirmware)) {
    return false;
  }
  TFrameReply reply;
  reply.SetReceived(channel_.DevRead(dev, reply.Bytes.data(), kQueryTimeoutMs, reply.kCapacity));
  const auto payload = AcceptedPayload(reply);
  if (!payload) {
    return false;
  }
  dev.FirmwareVersion.Parse(PayloadText(*payload));
  return true;
}

bool TReadVersion::QueryBootInfo(TDevEntry& dev) {
  bool version_read = false;
  if (SendFrame(dev, kBootQueryBootVersion)) {
    TFrameReply reply;
    reply.SetReceived(channel_.DevRead(dev, reply.Bytes.data(), kQueryTimeoutMs, reply.kCapacity));
    if (const auto payload = AcceptedPayload(reply)) {
      dev.BootVersion.Parse(PayloadText(*payload));
      version_read = true;
    }
  }
  if (!SendFrame(dev, kBootQueryProcessor)) {
    return version_read;
  }
  TFrameReply reply;
  reply.SetReceived(
      channel_.DevRead(dev, reply.Bytes.data(), kProcessorTimeoutMs, reply.kCapacity));
  if (reply.Received < kBootHeaderSize) {
    Log(kLogError, 0, "нет ответа на запрос идентификатора");
    return version_read;
  }
  if (const auto payload = AcceptedPayload(reply)) {
    dev.ProcessorId = PayloadWord(*payload);
  }
  return version_read;
}

bool TReadVersion::QueryFirmwareVersion(TDevEntry& dev) {
  for (int attempt = 0; attempt < kVersionAttempts && !Terminated(); ++attempt) {
    SendText(dev, kReadVersionCommand);  // a failed write still gets its read
    TVersionReply reply;
    reply.SetReceived(
        channel_.DevRead(dev, reply.Bytes.data(), kVersionTimeoutMs, reply.kCapacity));
    if (TakeFirmwareVersion(reply, dev.FirmwareVersion)) {
      return true;
    }
  }
  return false;
}

bool TReadVersion::StartBootLoader(TDevEntry& dev) {
  if (dev.BootMode) {
    return true;
  }
  const bool started = [&] {
    Log(kLogNormal, dev.Serial, "Отправляем команду запуска загрузчика");
    if (!SendText(dev, kStartBootCommand)) {
      Log(kLogError, dev.Serial, "Ошибка драйвера.");
      return false;
    }
    TStartReplyBuffer reply;
    reply.SetReceived(channel_.DevRead(dev, reply.Bytes.data(), kStartTimeoutMs, reply.kCapacity));
    switch (ClassifyStartReply(reply.Reply())) {
      case TStartAnswer::None:
        Log(kLogError, dev.Serial, "Прибор не ответил на команду запуска загрузчика.");
        return false;
      case TStartAnswer::Started:
        Log(kLogNormal, dev.Serial,
            "Команда запуска загрузчика обработана. Переподключите устройство.");
        return true;
      case TStartAnswer::StartError:
        Log(kLogError, dev.Serial, "Ошибка запуска загрузчика");
        return false;
      case TStartAnswer::Unknown:
        break;
    }
    Log(kLogError, dev.Serial, "Неизвестный ответ прибора: %s", ReplyText(reply.Reply()).c_str());
    return false;
  }();
  dev.BootStarted = started;
  return started;
}

}  // namespace updater
