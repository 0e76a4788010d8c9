// The checks a glTF 2.0 file (.gltf text or .glb binary) passes before the
// importer reads it: every index refers to something that exists, every
// range of bytes lies inside its buffer and every buffer inside its file
// or binary chunk, so nothing is ever read past the end of what is there
// and no count is believed that the bytes cannot hold.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// `bytes` is the whole file (already bounded by the caller); `folder` is
// where external buffers are looked for. True when the file may be read,
// else false with `error` saying why (without the file's name).
bool CheckGltf(const QByteArray &bytes, const QString &folder, std::string &error);

// True when `bytes` starts as a glTF binary or the extension says glTF.
bool LooksLikeGltf(const QByteArray &bytes, const QString &fileName);
