#pragma once
// The executable's check of its own file: the SHA-256 of the file, taken with the stamp slot
// zeroed, must equal the digest the build stamped into that slot (IntegrityLayout.h).

#include <string>

namespace updater {

// True when the executable file at path carries this program's stamp and matches it. An
// unstamped slot, an unreadable file or a missing marker all fail.
bool CheckIntegrity(const std::string& path);

}  // namespace updater
