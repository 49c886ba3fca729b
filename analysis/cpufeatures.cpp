#include "cpufeatures.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <intrin.h>
#define ORVELLA_X86_CPUID
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define ORVELLA_X86_CPUID
#endif

#include <cstdlib>
#include <cstring>

namespace
{

// ORVELLA_CPU_LIMIT=sse2, avx2 or avx512 leaves out the instruction sets
// above the one named, so that tests and benchmarks can run the other paths
// on a processor that has them all.
int limit()
{
    const char *name = std::getenv("ORVELLA_CPU_LIMIT");
    if (!name)
        return 3;
    const char *const levels[] = {"sse2", "avx2", "avx512"};
    for (int level = 0; level < 3; ++level)
        if (std::strcmp(name, levels[level]) == 0)
            return level;
    return 3;
}

#ifdef ORVELLA_X86_CPUID
// Registers eax, ebx, ecx, edx of the leaf; false when there is no such leaf.
bool cpuid(unsigned leaf, unsigned registers[4])
{
#ifdef _MSC_VER
    int highest[4];
    __cpuid(highest, 0);
    if (unsigned(highest[0]) < leaf)
        return false;
    int values[4];
    __cpuidex(values, int(leaf), 0);
    for (int i = 0; i < 4; ++i)
        registers[i] = unsigned(values[i]);
    return true;
#else
    return __get_cpuid_count(leaf, 0, &registers[0], &registers[1], &registers[2], &registers[3]) !=
           0;
#endif
}

// The register state the operating system saves on a task switch.
unsigned long long savedState()
{
#ifdef _MSC_VER
    return _xgetbv(0);
#else
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
#endif
}

bool detectAvx2()
{
    unsigned r[4];
    if (!cpuid(1, r))
        return false;
    const bool osSaves = (r[2] >> 27) & 1, avx = (r[2] >> 28) & 1;
    // Both the SSE and the AVX halves of the registers must be saved.
    if (!osSaves || !avx || (savedState() & 6) != 6)
        return false;
    return cpuid(7, r) && ((r[1] >> 5) & 1);
}

bool detectAvx512()
{
    unsigned r[4];
    // The opmask registers and both upper parts of the vector registers
    // must be saved as well.
    if (!detectAvx2() || (savedState() & 0xE6) != 0xE6 || !cpuid(7, r))
        return false;
    const bool foundation = (r[1] >> 16) & 1, bytesWords = (r[1] >> 30) & 1,
               lengths = (r[1] >> 31) & 1;
    return foundation && bytesWords && lengths;
}

bool detectAvx512Vbmi()
{
    unsigned r[4];
    return detectAvx512() && cpuid(7, r) && ((r[2] >> 1) & 1);
}
#else
bool detectAvx2()
{
    return false;
}

bool detectAvx512()
{
    return false;
}

bool detectAvx512Vbmi()
{
    return false;
}
#endif

} // namespace

bool cpuHasAvx2()
{
    static const bool avx2 = limit() >= 1 && detectAvx2();
    return avx2;
}

bool cpuHasAvx512()
{
    static const bool avx512 = limit() >= 2 && detectAvx512();
    return avx512;
}

bool cpuHasAvx512Vbmi()
{
    static const bool vbmi = limit() >= 3 && detectAvx512Vbmi();
    return vbmi;
}
