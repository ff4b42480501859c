// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace omvara::prefs::testing {

// Collects the messages of the program's loggers (all levels on) while alive.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    static QStringList messages();
    bool contains(const QString &text) const;
};

// A fresh file-backed store in a private folder: the file property points
// at <dir>/prefs.txt and the remembered path is forgotten, so each factory
// made in the test behaves like a new process on that file.
class FileStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        useFile(dir.filePath(QStringLiteral("prefs.txt")));
    }
    void TearDown() override
    {
        util::ProcessProperties::remove(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
        FilePreferencesFactory::forgetPreferencesFile();
    }
    void useFile(const QString &path)
    {
        file = path;
        util::ProcessProperties::set(FilePreferencesFactory::SYSTEM_PROPERTY_FILE, path);
        FilePreferencesFactory::forgetPreferencesFile();
    }
    QByteArray fileBytes() const
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
    void writeFile(const QByteArray &bytes) const
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    // The file's lines without the comment lines.
    QStringList entryLines() const
    {
        QStringList out;
        for (const QString &l : QString::fromLatin1(fileBytes()).split(u'\n', Qt::SkipEmptyParts))
            if (!l.startsWith(u'#'))
                out << l;
        return out;
    }

    QTemporaryDir dir;
    QString file;
};

} // namespace omvara::prefs::testing
