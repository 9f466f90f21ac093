#include <QFile>

#include "CommandLine.h"
#include "MainForm.h"

namespace updater {

void TMainForm::ApplyCommandLine(const std::vector<std::string>& args) {
  const TCommandLine command_line = ParseCommandLine(args);
  if (command_line.ExternFirmware) {
    session_.SetFileMode(true);
  }
  if (!command_line.FileName.empty()) {
    edFWFile->setEditText(QFile::decodeName(QByteArray::fromStdString(command_line.FileName)));
  }
}

}  // namespace updater
