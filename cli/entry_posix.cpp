#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/main.h"

namespace {

// Transparent huge pages for the heap. A command over hundreds of thousands of entries otherwise
// spends a fifth of its time faulting fresh 4 KiB pages in one by one (in a virtual machine each
// fault is dear). Each heap also grows 32 MiB at a time: grown by the least it needs, a pool
// thread's heap took a system call for every few pages and was never backed by huge pages (a
// check of 100,000 entries took 8,500 faults, 570 with both). glibc takes these settings from the
// environment only as a program starts, so the program starts itself once more with them; the
// huge page setting present means the user chose, or that this is the second start. Where the
// start fails, the program goes on as it is. Under valgrind it stays as started: a second start
// would leave valgrind behind.
void preferHugeHeapPages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
    constexpr const char* SETTING = "glibc.malloc.hugetlb";
    constexpr const char* PAD_SETTING = "glibc.malloc.top_pad";
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "vgpreload") != nullptr) return;
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string before = given != nullptr ? given : "";
    if (before.find(SETTING) != std::string::npos) return;
    std::string tunables = (before.empty() ? "" : before + ":") + SETTING + "=1";
    // A pad the user gave stays theirs.
    if (before.find(PAD_SETTING) == std::string::npos) tunables += std::string(":") + PAD_SETTING + "=33554432";
    if (setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0) return;
    execv("/proc/self/exe", argv);
    if (given != nullptr) {
        setenv("GLIBC_TUNABLES", before.c_str(), 1);
    } else {
        unsetenv("GLIBC_TUNABLES");
    }
#else
    (void)argv;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    preferHugeHeapPages(argv);
    return runCli(std::vector<std::string>(argv + 1, argv + argc));
}
