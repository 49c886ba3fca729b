// Linked into test programs with -Wl,--wrap=dlopen,--wrap=dlsym, so the
// program's own loading of the capture library can be made to fail, to miss
// entry points, and be counted, as the test double is told.
#include "fakeescapi.h"

#include <cstring>

extern "C" {

void *__real_dlopen(const char *file, int mode);
void *__real_dlsym(void *handle, const char *name);

void *__wrap_dlopen(const char *file, int mode)
{
    // By bare name or by path, as the program tries both.
    const char *base = file ? std::strrchr(file, '/') : nullptr;
    base = base ? base + 1 : file;
    const bool capture = base && std::strcmp(base, "libescapi.so") == 0;
    if (capture && !fakeEscapi_isLoadable())
        return nullptr;
    void *handle = __real_dlopen(file, mode);
    if (capture && handle)
        fakeEscapi_noteLoad();
    return handle;
}

void *__wrap_dlsym(void *handle, const char *name)
{
    if (name && fakeEscapi_isMissing(name))
        return nullptr;
    return __real_dlsym(handle, name);
}
}
