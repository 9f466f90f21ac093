// Arbitrary bytes as a version text, as a build-date text and as a stored build date: parsing
// and both display texts must hold up.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "FirmwareVersion.h"
#include "ScanDecimal.h"

using namespace updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  TFirmwareVersion version;
  const bool ok = version.Parse(text);
  const std::string shown = version.VersionText();
  // A version read shows its family in front (or the word for the "Unknown" reply).
  if (ok && version.Family != "unk" && version.Number != 0 &&
      shown.compare(0, version.Family.size() + 1, version.Family + "-") != 0) {
    __builtin_trap();
  }
  if (!ok && version.Family.find('-') != std::string::npos) {
    __builtin_trap();
  }

  int32_t n[6] = {};
  if (ScanDecimals(text, "%d.%d.%d %d:%d:%d", n) == 6) {
    if (const std::optional<double> date = EncodeBuildDate(n[2], n[1], n[0], n[3], n[4], n[5])) {
      version.BuildDate = *date;
      if (version.BuildDateText().size() < 19) {
        __builtin_trap();
      }
    }
  }

  // Whatever a record holds, even NaN or an absurd day count, its date text is safe.
  if (size >= sizeof(double)) {
    std::memcpy(&version.BuildDate, data, sizeof(double));
    (void)version.BuildDateText();
  }
  (void)TimeSeparatorOf(text);
  return 0;
}
