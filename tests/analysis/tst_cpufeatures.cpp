#include "cpufeatures.h"

#include <QtTest>

// Our own processor check against the compiler's, where there is one.
class CpuFeaturesTest : public QObject
{
    Q_OBJECT

private slots:
    void avx2AsTheCompilerSees()
    {
#if defined(__GNUC__) && defined(__x86_64__)
        QCOMPARE(cpuHasAvx2(), __builtin_cpu_supports("avx2") != 0);
#else
        QSKIP("no compiler check to compare with");
#endif
    }

    void avx512AsTheCompilerSees()
    {
#if defined(__GNUC__) && defined(__x86_64__)
        QCOMPARE(cpuHasAvx512(), __builtin_cpu_supports("avx512f") &&
                                     __builtin_cpu_supports("avx512vl") &&
                                     __builtin_cpu_supports("avx512bw"));
#else
        QSKIP("no compiler check to compare with");
#endif
    }

    void avx512VbmiAsTheCompilerSees()
    {
#if defined(__GNUC__) && defined(__x86_64__)
        QCOMPARE(cpuHasAvx512Vbmi(), cpuHasAvx512() && __builtin_cpu_supports("avx512vbmi"));
#else
        QSKIP("no compiler check to compare with");
#endif
    }
};

QTEST_GUILESS_MAIN(CpuFeaturesTest)
#include "tst_cpufeatures.moc"
