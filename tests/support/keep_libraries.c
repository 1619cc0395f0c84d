// Linked into every program of the sanitizer build only. The GL driver and
// other libraries are loaded and unloaded at run time; once unloaded, the
// leak checker can no longer name the lifetime allocations they made, so it
// cannot tell them from ours. Keeping every library loaded until the process
// ends keeps their names available to the suppressions in tests/lsan.supp.
#include <dlfcn.h>

int dlclose(void* handle) {
    (void)handle;
    return 0;
}
