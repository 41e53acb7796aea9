// Entry names compared without regard to case, in any script: Unicode's case
// folding letter by letter, as Qt does it ("zÜrich" and "Zürich", "ΟΔΟΣ" and
// "οδος"; the Turkish dotted and dotless i fold to no other letter).
#include <QByteArrayView>
#include <QString>

#include "platform/linux/linux_dialup.h"

namespace vel::platform {

bool LinuxDialUp::SameEntryNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    const QByteArrayView first(a.data(), static_cast<qsizetype>(a.size()));
    const QByteArrayView second(b.data(), static_cast<qsizetype>(b.size()));
    // Two different broken names would both decode to replacement characters.
    if (!first.isValidUtf8() || !second.isValidUtf8())
        return false;
    return QString::compare(QString::fromUtf8(first), QString::fromUtf8(second), Qt::CaseInsensitive) == 0;
}

}  // namespace vel::platform
