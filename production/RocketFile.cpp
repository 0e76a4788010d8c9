// RocketFile: reading and writing the editors' XML projects.
#include "RocketFile.h"

#include <QByteArray>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <limits>

namespace {

const int kMinRows = 128; // the editors' smallest project

std::string Quoted(const std::string &word)
{
    return "'" + word + "'";
}

// The attribute `name` of the element the reader is on, as UTF-8; false
// when the element has none.
bool Attribute(const QXmlStreamReader &reader, const char *name, std::string &value)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    if (!attributes.hasAttribute(QLatin1String(name)))
        return false;
    value = attributes.value(QLatin1String(name)).toString().trimmed().toStdString();
    return true;
}

// Reads the project element by element; `problem` holds the first thing
// wrong with it (without its line).
class Reader
{
public:
    explicit Reader(SyncTracks &tracks) : read(tracks) {}

    void start(const QXmlStreamReader &reader)
    {
        const QStringView element = reader.name();
        if (element == QLatin1String("sync") || element == QLatin1String("tracks")) {
            std::string text;
            int rows = 0;
            if (Attribute(reader, "rows", text) && !ReadFileRow(text, rows))
                return fail("rows " + Quoted(text) + " is not a whole number from 0 to 2147483647");
        }
        if (element == QLatin1String("tracks"))
            startTracks(reader);
        else if (element == QLatin1String("track"))
            startTrack(reader);
        else if (element == QLatin1String("key"))
            key(reader);
        else if (element == QLatin1String("bookmark"))
            bookmark(reader);
    }

    void end(const QXmlStreamReader &reader)
    {
        if (reader.name() == QLatin1String("track") && current)
            endTrack();
    }

    bool sawTracks = false;
    std::string problem;

private:
    void fail(const std::string &why)
    {
        if (problem.empty())
            problem = why;
    }

    void startTracks(const QXmlStreamReader &reader)
    {
        sawTracks = true;
        std::string text;
        double bpm = 0.0;
        int rowsPerBeat = 0;
        if (Attribute(reader, "beatsPerMin", text)) {
            if (!ReadFileNumber(text, bpm) || !SyncTracks::IsBpm(bpm))
                return fail("beatsPerMin " + Quoted(text) + " must be a number above 0 and at most " +
                            FormatNumber(SyncTracks::kMaxBpm));
            read.bpm = bpm;
        }
        if (Attribute(reader, "rowsPerBeat", text)) {
            if (!ReadFileRow(text, rowsPerBeat) || !SyncTracks::IsRowsPerBeat(rowsPerBeat))
                return fail("rowsPerBeat " + Quoted(text) + " must be a whole number from 1 to " +
                            std::to_string(SyncTracks::kMaxRowsPerBeat));
            read.rowsPerBeat = rowsPerBeat;
        }
    }

    void startTrack(const QXmlStreamReader &reader)
    {
        std::string name;
        if (current)
            return fail("a <track> inside another");
        if (!Attribute(reader, "name", name))
            return fail("a <track> without a name");
        if (!SyncTracks::IsTrackName(name))
            return fail("track name " + Quoted(name) +
                        " cannot be a sync track (names are not empty and hold no spaces)");
        if (read.find(name))
            return fail("track " + Quoted(name) + " is given twice");
        if (read.count() >= kMaxRocketTracks)
            return fail("more than " + std::to_string(kMaxRocketTracks) + " tracks");
        current = read.findOrAdd(name);
        keys.clear();
    }

    void key(const QXmlStreamReader &reader)
    {
        if (!current)
            return fail("a <key> outside a <track>");
        SyncKey key;
        std::string text;
        if (!Attribute(reader, "row", text) || !ReadFileRow(text, key.row))
            return fail("a key in track " + Quoted(current->name()) +
                        " needs a row, a whole number from 0 to 2147483647");
        if (!Attribute(reader, "value", text) || !ReadFileNumber(text, key.value))
            return fail("the key on row " + std::to_string(key.row) + " of track " + Quoted(current->name()) +
                        " needs a value, a number");
        int interpolation = 0; // a key without one steps
        if (Attribute(reader, "interpolation", text) && (!ReadFileRow(text, interpolation) || interpolation > 3))
            return fail("interpolation " + Quoted(text) + " of the key on row " + std::to_string(key.row) +
                        " of track " + Quoted(current->name()) + " is not 0, 1, 2 or 3");
        key.interpolation = static_cast<Interpolation>(interpolation);
        keys.push_back(key);
    }

    void bookmark(const QXmlStreamReader &reader)
    {
        std::string text;
        int row = 0;
        if (!Attribute(reader, "row", text) || !ReadFileRow(text, row))
            return fail("a bookmark needs a row, a whole number from 0 to 2147483647");
        if (read.nextBookmark(row - 1) != row)
            read.toggleBookmark(row);
    }

    // The keys come in any order; the track takes them in the order of
    // their rows, each row once.
    void endTrack()
    {
        std::stable_sort(keys.begin(), keys.end(), [](const SyncKey &a, const SyncKey &b) { return a.row < b.row; });
        for (const SyncKey &key : keys) {
            if (!current->appendKey(key))
                return fail("track " + Quoted(current->name()) + " has two keys on row " + std::to_string(key.row));
        }
        current = nullptr;
    }

    SyncTracks &read;
    SyncTrack *current = nullptr;
    std::vector<SyncKey> keys; // the current track's, as read
};

} // namespace

bool ParseRocketXml(std::string_view text, SyncTracks &tracks, std::string &error)
{
    if (text.size() > kMaxRocketFileBytes) {
        error = "the file is larger than " + std::to_string(kMaxRocketFileBytes >> 20) +
                " MB; it is not a sync project";
        return false;
    }
    SyncTracks read;
    read.bpm = tracks.bpm;
    read.rowsPerBeat = tracks.rowsPerBeat;
    Reader project(read);
    const QByteArray bytes = QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd() && project.problem.empty()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement)
            project.start(reader);
        else if (token == QXmlStreamReader::EndElement)
            project.end(reader);
    }
    if (reader.hasError() && project.problem.empty())
        project.problem = "not well-formed XML: " + reader.errorString().toStdString();
    if (project.problem.empty() && !project.sawTracks)
        project.problem = "not a sync project: it has no <tracks> element";
    if (!project.problem.empty()) {
        error = "line " + std::to_string(reader.lineNumber()) + ": " + project.problem;
        return false;
    }
    tracks = std::move(read);
    error.clear();
    return true;
}

std::string FormatRocketXml(const SyncTracks &tracks)
{
    // Rows are counted in 64 bits: a key may sit on the largest int.
    qint64 rows = kMinRows;
    for (int i = 0; i < tracks.count(); ++i) {
        if (!tracks.track(i).keys().empty())
            rows = std::max<qint64>(rows, tracks.track(i).keys().back().row + qint64(1));
    }
    if (!tracks.bookmarks().empty())
        rows = std::max<qint64>(rows, tracks.bookmarks().back() + qint64(1));
    const QString rowCount = QString::number(std::min<qint64>(rows, std::numeric_limits<int>::max()));

    QByteArray out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("sync"));
    writer.writeAttribute(QStringLiteral("rows"), rowCount);
    writer.writeStartElement(QStringLiteral("tracks"));
    writer.writeAttribute(QStringLiteral("rows"), rowCount);
    writer.writeAttribute(QStringLiteral("rowsPerBeat"), QString::number(tracks.rowsPerBeat));
    writer.writeAttribute(QStringLiteral("beatsPerMin"), QString::fromStdString(FormatNumber(tracks.bpm)));
    for (int i = 0; i < tracks.count(); ++i) {
        const SyncTrack &track = tracks.track(i);
        writer.writeStartElement(QStringLiteral("track"));
        writer.writeAttribute(QStringLiteral("name"), QString::fromStdString(track.name()));
        for (const SyncKey &key : track.keys()) {
            writer.writeEmptyElement(QStringLiteral("key"));
            writer.writeAttribute(QStringLiteral("row"), QString::number(key.row));
            writer.writeAttribute(QStringLiteral("value"), QString::fromStdString(FormatNumber(key.value)));
            writer.writeAttribute(QStringLiteral("interpolation"),
                                  QString::number(static_cast<int>(key.interpolation)));
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
    if (!tracks.bookmarks().empty()) {
        writer.writeStartElement(QStringLiteral("bookmarks"));
        for (int row : tracks.bookmarks()) {
            writer.writeEmptyElement(QStringLiteral("bookmark"));
            writer.writeAttribute(QStringLiteral("row"), QString::number(row));
        }
        writer.writeEndElement();
    }
    writer.writeEndDocument();
    return std::string(out.constData(), static_cast<size_t>(out.size()));
}
