#include "namerules.h"

#include "switcher/names.h"

namespace {

constexpr int kMaxNameLength = 64;

} // namespace

QString nameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a name must not be empty");
    if (name.size() > kMaxNameLength)
        return QStringLiteral("a name is at most %1 characters").arg(kMaxNameLength);
    for (const QChar c : name) {
        if (!c.isPrint())
            return QStringLiteral("a name must be printable");
    }
    if (wholeNumberIn(name, 0, 99) || outputForLetterOrNumber(name))
        return QStringLiteral("\"%1\" is a number or an output letter, not a name").arg(name);
    return {};
}
