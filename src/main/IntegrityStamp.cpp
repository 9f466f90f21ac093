// The stamp slot of this executable; the build writes the digest into the file after linking.
// Volatile keeps the compiler from folding the all-zero initial slot into the check.

#include "IntegrityLayout.h"

extern "C" {
extern const volatile unsigned char updater_integrity_stamp[updater::kIntegrityStampSize];
__attribute__((used))
const volatile unsigned char updater_integrity_stamp[updater::kIntegrityStampSize] = {
    UPDATER_INTEGRITY_MARKER};
}
