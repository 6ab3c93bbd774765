#include "table.h"

#include <QTextStream>

#include <algorithm>
#include <array>

QString formatMs(double ms)
{
    if (ms < 1)
        return QStringLiteral("%1 ms").arg(ms, 0, 'f', 3);
    if (ms < 10)
        return QStringLiteral("%1 ms").arg(ms, 0, 'f', 2);
    if (ms < 100)
        return QStringLiteral("%1 ms").arg(ms, 0, 'f', 1);
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', 0);
}

QString formatRatio(double ratio)
{
    return QStringLiteral("%1x").arg(ratio, 0, 'f', ratio < 10 ? 2 : ratio < 100 ? 1 : 0);
}

QString verdictBelow(double value, double goal, const QString& unit)
{
    if (value < goal)
        return QStringLiteral("met");
    return QStringLiteral("MISSED by %1 %2").arg(value - goal, 0, 'f', 2).arg(unit);
}

QString Table::render() const
{
    const Row header{QStringLiteral("#"),      QStringLiteral("Measure"), QStringLiteral("Kind"),
                     QStringLiteral("Median"), QStringLiteral("p90"),     QStringLiteral("Goal"),
                     QStringLiteral("Result")};
    auto cells = [](const Row& r) {
        return std::array<QString, 7>{r.id, r.measure, r.kind, r.median, r.p90, r.goal, r.verdict};
    };
    std::array<qsizetype, 7> width{};
    for (const Row& r : rows_) {
        const auto c = cells(r);
        for (std::size_t i = 0; i < c.size(); ++i)
            width[i] = std::max(width[i], c[i].size());
    }
    const auto h = cells(header);
    for (std::size_t i = 0; i < h.size(); ++i)
        width[i] = std::max(width[i], h[i].size());

    QString out;
    QTextStream s(&out);
    auto line = [&](const std::array<QString, 7>& c) {
        s << '|';
        for (std::size_t i = 0; i < c.size(); ++i)
            s << ' ' << c[i].leftJustified(width[i]) << " |";
        s << '\n';
    };
    line(h);
    s << '|';
    for (const qsizetype w : width)
        s << QString(w + 2, u'-') << '|';
    s << '\n';
    for (const Row& r : rows_)
        line(cells(r));
    if (!notes_.isEmpty()) {
        s << '\n';
        for (const QString& n : notes_)
            s << n << '\n';
    }
    return out;
}
