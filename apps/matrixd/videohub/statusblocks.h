#pragma once

#include "config/switcherconfig.h"
#include "switcherstate.h"
#include "videohubblock.h"

#include <QByteArray>
#include <QList>

#include <optional>

// The switcher as the router control protocol shows it: 4 inputs, 4 outputs, the configured
// names as labels, no locks, no take mode. Pure functions of the configuration and the state.
class StatusBlocks {
public:
    explicit StatusBlocks(const SwitcherConfig& config);

    // Every block a client is sent on connecting, in order, for one write.
    QByteArray greeting(const SwitcherFacts& facts, bool answering) const;
    // The status block with this header, as it stands; nothing for a header not served.
    std::optional<VideohubBlock> block(const QString& header, const SwitcherFacts& facts,
                                       bool answering) const;

    VideohubBlock preamble() const;
    VideohubBlock device(bool answering) const;
    VideohubBlock inputLabels() const;
    VideohubBlock outputLabels() const;
    VideohubBlock outputLocks() const;
    // The outputs given (1..4, all when empty) whose input is known; clients take one left out
    // as routed to its own number, so an unknown one is never guessed.
    static VideohubBlock routing(const SwitcherFacts& facts, const QList<int>& outputs = {});
    VideohubBlock configuration() const;

    // 12 hex digits, the same for the same id on every start.
    static QString uniqueId(const QString& id);

private:
    QString friendlyName_;
    QString uniqueId_;
    QStringList inputLabels_;
    QStringList outputLabels_;
};
