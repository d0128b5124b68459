// Without a C runtime nothing provides the memory routines that compilers may
// call for plain loops and copies; these stand in for them in setup.exe.
// (Compilers leave loops inside functions of these names as loops.)
#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (count-- > 0) *out++ = static_cast<unsigned char>(value);
    return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    while (count-- > 0) *out++ = *in++;
    return destination;
}
