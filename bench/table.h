#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The one table the benchmark prints, plus notes under it.
struct Row {
    QString id;
    QString measure;
    QString kind; // "absolute", "ratio" or "count"
    QString median;
    QString p90;
    QString goal;
    QString verdict;
};

class Table {
public:
    void add(Row row) { rows_.push_back(std::move(row)); }
    void note(const QString& line) { notes_ << line; }
    QString render() const;

private:
    std::vector<Row> rows_;
    QStringList notes_;
};

// "0.412 ms", "31.4 ms", "1520 ms": three significant digits.
QString formatMs(double ms);
QString formatRatio(double ratio);
// "met", or how far the value is over the goal.
QString verdictBelow(double value, double goal, const QString& unit);
