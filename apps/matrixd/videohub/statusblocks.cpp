#include "statusblocks.h"

#include "videohubprotocol.h"

#include <QCryptographicHash>

using namespace videohub;

namespace {

// "0 Blu-ray", ports counted from 0.
QStringList numbered(const QStringList& values)
{
    QStringList items;
    for (qsizetype port = 0; port < values.size(); ++port)
        items << QString::number(port) + kItemSeparator + values.at(port);
    return items;
}

} // namespace

StatusBlocks::StatusBlocks(const SwitcherConfig& config)
    : friendlyName_(config.name), uniqueId_(uniqueId(config.id))
{
    for (int input = 1; input <= kInputCount; ++input)
        inputLabels_ << config.inputLabel(input);
    for (int output = 1; output <= kOutputCount; ++output)
        outputLabels_ << config.outputLabel(output);
}

QByteArray StatusBlocks::greeting(const SwitcherFacts& facts, bool answering) const
{
    QByteArray bytes;
    for (const QString& header : kStatusHeaders)
        bytes += block(header, facts, answering)->encoded();
    return bytes + VideohubBlock{kEndPrelude, {}}.encoded();
}

std::optional<VideohubBlock> StatusBlocks::block(const QString& header, const SwitcherFacts& facts,
                                                 bool answering) const
{
    if (header == kPreamble)
        return preamble();
    if (header == kDevice)
        return device(answering);
    if (header == kInputLabels)
        return inputLabels();
    if (header == kOutputLabels)
        return outputLabels();
    if (header == kOutputLocks)
        return outputLocks();
    if (header == kOutputRouting)
        return routing(facts);
    if (header == kConfiguration)
        return configuration();
    return std::nullopt;
}

VideohubBlock StatusBlocks::preamble() const
{
    return {kPreamble, {kVersionField + kVersion}};
}

VideohubBlock StatusBlocks::device(bool answering) const
{
    // Every count, also while the switcher is away: clients take a missing one as 12.
    return {kDevice,
            {kDevicePresentField + (answering ? kTrue : kFalse), kModelNameField + kModelName,
             kFriendlyNameField + friendlyName_, kUniqueIdField + uniqueId_,
             kVideoInputsField + QString::number(kInputCount), kProcessingUnitsField + u'0',
             kVideoOutputsField + QString::number(kOutputCount), kMonitoringOutputsField + u'0',
             kSerialPortsField + u'0'}};
}

VideohubBlock StatusBlocks::inputLabels() const
{
    return {kInputLabels, numbered(inputLabels_)};
}

VideohubBlock StatusBlocks::outputLabels() const
{
    return {kOutputLabels, numbered(outputLabels_)};
}

VideohubBlock StatusBlocks::outputLocks() const
{
    QStringList unlocked;
    for (int output = 1; output <= kOutputCount; ++output)
        unlocked << kUnlocked;
    return {kOutputLocks, numbered(unlocked)};
}

VideohubBlock StatusBlocks::routing(const SwitcherFacts& facts, const QList<int>& outputs)
{
    VideohubBlock block{kOutputRouting, {}};
    for (int output = 1; output <= kOutputCount; ++output) {
        const auto input = facts.input(output);
        if (input && (outputs.isEmpty() || outputs.contains(output)))
            block.items << QString::number(output - 1) + kItemSeparator +
                               QString::number(*input - 1);
    }
    return block;
}

VideohubBlock StatusBlocks::configuration() const
{
    return {kConfiguration, {kTakeModeField + kFalse}};
}

QString StatusBlocks::uniqueId(const QString& id)
{
    const QByteArray digest = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(kUniqueIdDigits / 2).toHex().toUpper());
}
