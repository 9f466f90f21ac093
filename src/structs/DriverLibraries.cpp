#include "DriverLibraries.h"

#include <QFileInfo>
#include <QLibrary>
#include <QString>

namespace updater {

TFtdiLibrary::TFtdiLibrary() = default;
TFtdiLibrary::~TFtdiLibrary() = default;  // QLibrary's destructor leaves the module loaded
TQlLibrary::TQlLibrary() = default;
TQlLibrary::~TQlLibrary() = default;

namespace {

// dlopen() called from inside Qt does not consult the executable's run path, so the
// executable's own folder is tried explicitly before the system search.
std::unique_ptr<QLibrary> OpenModule(const std::string& app_dir, const char* file_name) {
  auto module = std::make_unique<QLibrary>();
  if (!app_dir.empty()) {
    const QString beside = QString::fromStdString(app_dir) + QString::fromLatin1(file_name);
    if (QFileInfo::exists(beside)) {
      module->setFileName(beside);
      if (module->load()) {
        return module;
      }
    }
  }
  module->setFileName(QString::fromLatin1(file_name));
  if (module->load()) {
    return module;
  }
  return nullptr;
}

template <typename Fn>
bool Bind(QLibrary& module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(module.resolve(name));
  return slot != nullptr;
}

// Unloads the module when a required name is missing, so that nothing of it stays mapped.
template <typename Table>
std::unique_ptr<Table> Finish(std::unique_ptr<Table> table, bool complete) {
  if (!complete) {
    table->Module->unload();
    return nullptr;
  }
  return table;
}

}  // namespace

std::unique_ptr<TFtdiLibrary> LoadFtdiLibrary(const std::string& app_dir) {
  auto table = std::make_unique<TFtdiLibrary>();
  table->Module = OpenModule(app_dir, kFtdiLibraryFile);
  if (!table->Module) {
    return nullptr;
  }
  QLibrary& m = *table->Module;
  TFtdiLibrary& t = *table;
  // Looked up in this order; && stops at the first missing name.
  const bool complete =
      Bind(m, "FT_ListDevices", t.FT_ListDevices) && Bind(m, "FT_Open", t.FT_Open) &&
      Bind(m, "FT_Close", t.FT_Close) && Bind(m, "FT_ResetDevice", t.FT_ResetDevice) &&
      Bind(m, "FT_Purge", t.FT_Purge) && Bind(m, "FT_Read", t.FT_Read) &&
      Bind(m, "FT_Write", t.FT_Write) && Bind(m, "FT_SetDivisor", t.FT_SetDivisor) &&
      Bind(m, "FT_SetTimeouts", t.FT_SetTimeouts) && Bind(m, "FT_SetBaudRate", t.FT_SetBaudRate) &&
      Bind(m, "FT_GetDeviceInfo", t.FT_GetDeviceInfo) && Bind(m, "FT_GetStatus", t.FT_GetStatus) &&
      Bind(m, "FT_GetQueueStatus", t.FT_GetQueueStatus) && Bind(m, "FT_SetRts", t.FT_SetRts) &&
      Bind(m, "FT_SetDataCharacteristics", t.FT_SetDataCharacteristics) &&
      Bind(m, "FT_SetFlowControl", t.FT_SetFlowControl) &&
      Bind(m, "FT_SetLatencyTimer", t.FT_SetLatencyTimer) &&
      Bind(m, "FT_CreateDeviceInfoList", t.FT_CreateDeviceInfoList) &&
      Bind(m, "FT_GetDeviceInfoList", t.FT_GetDeviceInfoList) && Bind(m, "FT_OpenEx", t.FT_OpenEx);
  if (complete) {
    Bind(m, "FT_Rescan", t.FT_Rescan);  // Windows-only in the vendor's documentation
  }
  return Finish(std::move(table), complete);
}

std::unique_ptr<TQlLibrary> LoadQLLibrary(const std::string& app_dir) {
  auto table = std::make_unique<TQlLibrary>();
  table->Module = OpenModule(app_dir, kQlLibraryFile);
  if (!table->Module) {
    return nullptr;
  }
  QLibrary& m = *table->Module;
  TQlLibrary& t = *table;
  const bool complete =
      Bind(m, "QL_GetListDevices", t.QL_GetListDevices) &&
      Bind(m, "QL_OpenDevice", t.QL_OpenDevice) && Bind(m, "QL_CloseDevice", t.QL_CloseDevice) &&
      Bind(m, "QL_ReadNotTimeOut", t.QL_ReadNotTimeOut) && Bind(m, "QL_Write", t.QL_Write) &&
      Bind(m, "QL_Purge", t.QL_Purge) && Bind(m, "QL_SetTimeouts", t.QL_SetTimeouts);
  if (complete) {
    Bind(m, "QL_GetOpenError", t.QL_GetOpenError);  // optional: an older library lacks it
  }
  return Finish(std::move(table), complete);
}

}  // namespace updater
