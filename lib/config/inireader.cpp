#include "inireader.h"

IniReader::IniReader(const QByteArray& text) : lines_(text.split('\n')) {}

std::optional<IniEntry> IniReader::next()
{
    while (error_.isEmpty() && next_ < lines_.size()) {
        const QString line = QString::fromUtf8(lines_.at(next_++)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        IniEntry entry;
        entry.line = int(next_);
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) {
                error_ = QStringLiteral("a section header ends with ]");
                return std::nullopt;
            }
            inSection_ = true;
            entry.isHeader = true;
            entry.section = line.mid(1, line.size() - 2).trimmed();
            return entry;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            error_ = QStringLiteral("expected KEY = VALUE, found \"%1\"").arg(line);
            return std::nullopt;
        }
        if (!inSection_) {
            error_ = QStringLiteral("a key before any section");
            return std::nullopt;
        }
        entry.key = line.left(equals).trimmed();
        entry.value = line.mid(equals + 1).trimmed();
        if (entry.value.size() >= 2 && entry.value.startsWith(u'"') && entry.value.endsWith(u'"'))
            entry.value = entry.value.mid(1, entry.value.size() - 2);
        return entry;
    }
    return std::nullopt;
}
