#pragma once

#include "ZoCliDoctor.h"

#include <QString>

// tolvane-cli --doctor's output: one line per finding on stdout, its level
// first ("ok  ", "warn", "FAIL") so that grep finds what blocks, the fix on
// the same line.
class ZoCliDoctorPrinter
{
public:
    static QString line(const ZoCliDoctor::Finding &finding);
    // Writes the line and flushes, as the next check may take seconds.
    static void print(const ZoCliDoctor::Finding &finding);
};
