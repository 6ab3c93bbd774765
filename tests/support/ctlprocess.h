#pragma once

// matrixctl as a script runs it: a separate process in the working directory, run to its end.

#include <QProcess>
#include <QStringList>

struct CtlRun {
    int exitCode = -1; // -1: crashed or hung
    QString out;
    QString err;
};

inline CtlRun runCtl(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(MATRIXCTL_PATH), arguments);
    CtlRun run;
    if (!process.waitForFinished(20'000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

// A whole run in one line, to compare and to show on failure.
inline QString show(const CtlRun& run)
{
    return QStringLiteral("exit %1, out [%2], err [%3]").arg(run.exitCode).arg(run.out, run.err);
}

// A confirmed run: exit 0, `out` printed, nothing on standard error.
inline QString confirmed(const QString& out)
{
    return show({0, out, {}});
}
