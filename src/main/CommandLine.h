#pragma once
// What the command line selects: file mode, and the firmware file to start with.
//
// Arguments are raw bytes as the system handed them over. A firmware file is an argument that
// names, as given (absolute or relative, case kept), an existing regular file whose extension is
// ".eraw" in any case, whether this user may read it or not (a file that cannot be read fails
// its load). The switch "externfirmware" matches in any case after at most one leading "/" or
// "-". Everything else is ignored.

#include <string>
#include <vector>

namespace updater {

struct TCommandLine {
  bool ExternFirmware = false;
  std::string FileName;  // the last firmware file named, as given; empty when none
};

TCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace updater
