// SessionLog: the format of the console's session log, "replsession.txt",
// as a parse/format pair without a widget or a file: the count line, the
// history entries each ended by a "###" line, then the console text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

struct SessionContent
{
    QVector<QString> vHistory; // complete entries, oldest first
    QString sText;             // the console text; empty when there is none
};

// Reads a session log from the bytes of the file. Any bytes are accepted:
// carriage returns are dropped, invalid UTF-8 becomes U+FFFD, an entry whose
// "###" line is missing is dropped, and nothing is sized by the count line.
// An entry's lines that are "###" after one or more backslashes lose one
// backslash (the writer adds one to every such line and to "###" itself).
SessionContent ParseSessionLog(const QByteArray &bytes);

// The bytes of a session log (UTF-8) holding `history` and the console
// `text`; ParseSessionLog gives both back exactly.
QByteArray FormatSessionLog(const QVector<QString> &history, const QString &text);
