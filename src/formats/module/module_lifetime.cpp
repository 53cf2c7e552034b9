// The Linux module's load and unload in a host's process, which may open and close it hundreds of
// times (a plug-in scanner does, once per scan). Each cycle must leave the process as it found it.
#include <dlfcn.h>

#if defined(LUMISERE_STATIC_RUNTIME)
namespace __gnu_cxx {
// libstdc++'s hook for freeing what it keeps for the life of the process (valgrind calls it at exit);
// its headers do not declare it.
void __freeres() noexcept;
}  // namespace __gnu_cxx
#endif

namespace {

// [loader] Cairo's pixel library, pixman, mallocs its tables of fast paths (12 KiB) in a constructor
// and never frees them. Unloaded with the module and loaded again with the next open, it would leave
// one set behind per cycle; marked never to unload, it is set up once per process.
__attribute__((constructor)) void keepPixmanLoaded() {
    if (void* pixman = dlopen("libpixman-1.so.0", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(pixman);
}

#if defined(LUMISERE_STATIC_RUNTIME)
// [loader] The C++ runtime linked into the module mallocs its emergency pool for exceptions (72 KiB)
// when the module loads and never frees it. The module's own copy of the runtime goes away with it,
// and nothing of the module runs after its finalisers, so the pool is handed back here.
__attribute__((destructor)) void freeRuntimePool() { __gnu_cxx::__freeres(); }
#endif

}  // namespace
