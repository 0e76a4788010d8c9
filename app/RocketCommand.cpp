// Importing and exporting the Rocket editors' projects from the command line.
#include "RocketCommand.h"

#include "RocketFile.h"
#include "SyncFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace {

const char kImport[] = "--import-rocket";
const char kExport[] = "--export-rocket";

int Fail(const std::string &why)
{
    std::fprintf(stderr, "velkaro: %s\n", why.c_str());
    return 2;
}

long KeyCount(const SyncTracks &tracks)
{
    long keys = 0;
    for (int i = 0; i < tracks.count(); ++i)
        keys += static_cast<long>(tracks.track(i).keys().size());
    return keys;
}

std::string Summary(const SyncTracks &tracks)
{
    return std::to_string(tracks.count()) + " tracks, " + std::to_string(KeyCount(tracks)) + " keys, " +
           std::to_string(tracks.bookmarks().size()) + " bookmarks";
}

// The project's text, or why there is none. Read no further than the
// largest project, so a huge file or a device is never taken in whole.
bool ReadProject(const QString &name, QByteArray &text, std::string &why)
{
    const QFileInfo info(name);
    const std::string shown = name.toStdString();
    if (!info.exists()) {
        why = "cannot read " + shown + ": there is no such file";
        return false;
    }
    if (!info.isFile()) {
        why = "cannot read " + shown + ": not a regular file";
        return false;
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        why = "cannot read " + shown + ": " + file.errorString().toStdString();
        return false;
    }
    text = file.read(static_cast<qint64>(kMaxRocketFileBytes) + 1);
    return true;
}

int Import(const QString &project, const QString &syncName)
{
    const std::string shownSync = syncName.toStdString();
    if (QFileInfo::exists(syncName))
        return Fail(shownSync + " exists already; move it aside to import " + project.toStdString() +
                    " (nothing was written)");
    QByteArray text;
    std::string why;
    if (!ReadProject(project, text, why))
        return Fail(why);
    SyncFile sync(syncName);
    if (!ParseRocketXml(std::string_view(text.constData(), static_cast<size_t>(text.size())), sync.tracks(), why))
        return Fail(project.toStdString() + ": " + why);
    if (!sync.write())
        return Fail(sync.error());
    std::printf("velkaro: wrote %s from %s: %s\n", shownSync.c_str(), project.toStdString().c_str(),
                Summary(sync.tracks()).c_str());
    return 0;
}

int Export(const QString &project, const QString &syncName)
{
    SyncFile sync(syncName);
    if (!QFileInfo::exists(syncName))
        return Fail("there is no " + syncName.toStdString() + " in this folder to export");
    if (!sync.read())
        return Fail(syncName.toStdString() + ": " + sync.error());
    const std::string xml = FormatRocketXml(sync.tracks());
    QSaveFile file(project);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(xml.data(), static_cast<qint64>(xml.size())) != static_cast<qint64>(xml.size()) || !file.commit())
        return Fail("cannot write " + project.toStdString() + ": " + file.errorString().toStdString());
    std::printf("velkaro: wrote %s from %s: %s\n", project.toStdString().c_str(), syncName.toStdString().c_str(),
                Summary(sync.tracks()).c_str());
    return 0;
}

} // namespace

RocketCommandLine ParseRocketCommandLine(const std::vector<std::string> &arguments)
{
    RocketCommandLine line;
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) {
        line.others = arguments; // the usage, which tells of these too
        return line;
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name == "--rocket") {
            if (line.rocket) {
                line.action = RocketAction::Refuse;
                line.error = "--rocket is given twice";
                return line;
            }
            line.rocket = true;
            if (equals != std::string::npos)
                line.address = argument.substr(equals + 1);
            else if (i + 1 < arguments.size() && !arguments[i + 1].empty() && arguments[i + 1][0] != '-')
                line.address = arguments[++i];
            continue;
        }
        if (name != kImport && name != kExport) {
            line.others.push_back(argument);
            continue;
        }
        line.action = name == kImport ? RocketAction::Import : RocketAction::Export;
        if (equals != std::string::npos)
            line.file = argument.substr(equals + 1);
        else if (i + 1 < arguments.size())
            line.file = arguments[i + 1];
        if (line.file.empty()) {
            line.action = RocketAction::Refuse;
            line.error = name + " needs a file, e.g. " + name + " project.rocket";
            return line;
        }
        if (arguments.size() != (equals != std::string::npos ? 1u : 2u)) {
            line.action = RocketAction::Refuse;
            line.error = name + " FILE takes no other argument (see velkaro --help)";
            return line;
        }
    }
    return line;
}

const char *RocketUsage()
{
    return "\n"
           "velkaro --rocket [HOST[:PORT]] [--size WxH]\n"
           "    opens the window as the client of a Rocket-protocol sync editor\n"
           "    (default 127.0.0.1:1338); the editor sets the keys, the row, pause and\n"
           "    play, and saves sync.txt; tries again every second until it is there\n"
           "velkaro --import-rocket FILE.rocket\n"
           "    writes sync.txt from the XML project of a Rocket sync editor; refuses\n"
           "    when sync.txt exists (move it aside first, so no work is lost)\n"
           "velkaro --export-rocket FILE.rocket\n"
           "    writes FILE.rocket (over an older one) from sync.txt, for the editor\n";
}

int RunRocketCommand(const RocketCommandLine &line, const QString &syncFile)
{
    const QString file = QString::fromStdString(line.file);
    switch (line.action) {
    case RocketAction::Import:
        return Import(file, syncFile);
    case RocketAction::Export:
        return Export(file, syncFile);
    case RocketAction::Refuse:
        return Fail(line.error);
    case RocketAction::None:
        break;
    }
    return 0;
}
