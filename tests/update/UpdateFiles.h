// Update files for the update tests: a patterned body, a CPU firmware file
// with a chosen header size, written into a temporary directory.
#pragma once

#include "update/flash.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstring>

// Byte n of a test file: never constant over a page, differs between files.
inline QByteArray Pattern(qsizetype size, int seed)
{
    QByteArray b(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 256 + seed) & 0xFF);
    return b;
}

// A CPU firmware file image (any length) whose header `size` is `headerSize`.
inline QByteArray CpuFile(std::int32_t headerSize, qsizetype length = cCpuFileSize, int seed = 1)
{
    QByteArray b = Pattern(length, seed);
    if (length >= qsizetype(offsetof(sflashrecord, size) + 4))
        std::memcpy(b.data() + offsetof(sflashrecord, size), &headerSize, 4);
    return b;
}

inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}
