#include "videohubrequest.h"

#include "switcher/commandframe.h"
#include "switcher/names.h"
#include "videohubprotocol.h"

namespace {

// The item fit for a log line: at most 40 characters, quoted.
QString quotedItem(const QString& item)
{
    constexpr qsizetype kShown = 40;
    return u'"' + (item.size() > kShown ? item.left(kShown) + QStringLiteral("...") : item) + u'"';
}

} // namespace

VideohubRequest VideohubRequest::parse(const VideohubBlock& block)
{
    VideohubRequest request;
    request.header = block.header.trimmed();
    if (request.header == videohub::kPing) {
        request.kind = Kind::Ping;
        return request;
    }
    if (!videohub::kStatusHeaders.contains(request.header))
        return request;
    if (block.items.isEmpty()) {
        request.kind = Kind::StatusDump;
        return request;
    }
    if (request.header != videohub::kOutputRouting) {
        request.kind = Kind::ReadOnlyChange;
        return request;
    }
    request.kind = Kind::Routes;
    for (const QString& item : block.items) {
        // OUT IN, both counted from 0.
        const QStringList numbers = item.trimmed().split(videohub::kItemSeparator);
        const auto output =
            numbers.size() == 2 ? wholeNumberIn(numbers.at(0), 0, kOutputCount - 1) : std::nullopt;
        const auto input =
            numbers.size() == 2 ? wholeNumberIn(numbers.at(1), 0, kInputCount - 1) : std::nullopt;
        if (!output || !input) {
            request.kind = Kind::InvalidRoutes;
            request.routes.clear();
            request.problem =
                QStringLiteral("%1 is not OUTPUT INPUT with an output 0 to %2 and an input 0 to %3")
                    .arg(quotedItem(item))
                    .arg(kOutputCount - 1)
                    .arg(kInputCount - 1);
            return request;
        }
        request.routes.append({*output + 1, *input + 1});
    }
    return request;
}
