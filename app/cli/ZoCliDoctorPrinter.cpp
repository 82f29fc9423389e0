#include "ZoCliDoctorPrinter.h"

#include <cstdio>

QString ZoCliDoctorPrinter::line(const ZoCliDoctor::Finding &finding)
{
    QString level;
    switch (finding.level) {
    case ZoCliDoctor::Ok:
        level = QStringLiteral("ok  ");
        break;
    case ZoCliDoctor::Warn:
        level = QStringLiteral("warn");
        break;
    case ZoCliDoctor::Fail:
        level = QStringLiteral("FAIL");
        break;
    }
    QString text = QStringLiteral("%1 %2: %3").arg(level, finding.subject, finding.text);
    // A line per finding, whatever a system message carried.
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!finding.fix.isEmpty())
        text += QStringLiteral(" — fix: ") + finding.fix;
    return text;
}

void ZoCliDoctorPrinter::print(const ZoCliDoctor::Finding &finding)
{
    std::fputs(qUtf8Printable(line(finding) + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}
