// The numbers of the system calls the end-to-end tests watch, as a 32-bit x86 program makes
// them. A file of their own, which includes nothing else: the kernel's 32-bit and 64-bit
// tables name the same calls, and whichever header comes second wins.
#include <asm/unistd_32.h>

namespace qz_e2e {
extern const long kI386Write = __NR_write;
extern const long kI386Pread64 = __NR_pread64;
extern const long kI386Getdents64 = __NR_getdents64;
extern const long kI386Poll = __NR_poll;
extern const long kI386Ppoll = __NR_ppoll;
}  // namespace qz_e2e
