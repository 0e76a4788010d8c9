// Whole-file reads and writes, tools run to completion, and the debug lines
// written while a DebugLines object lives.
#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// True when `program` ran and exited normally with status 0 within the time.
inline bool RunsCleanly(const QString &program, const QStringList &arguments, int timeoutMs = 300000)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Collects the debug lines written while it lives; the handler before it
// comes back at its end.
class DebugLines
{
public:
    DebugLines()
    {
        sink = &lines;
        previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &line) { *sink << line; });
    }
    ~DebugLines() { qInstallMessageHandler(previous); }
    QStringList lines;

private:
    static inline QStringList *sink = nullptr;
    QtMessageHandler previous = nullptr;
};
