#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kmb::test {

// A throw-away directory standing in for /proc, /sys or a home directory.
class FakeSysTree {
public:
    FakeSysTree() { EXPECT_TRUE(m_dir.isValid()); }

    QString root() const { return m_dir.path(); }

    // Writes root/relativePath, making its parent directories.
    void write(const QString& relativePath, const QByteArray& content) const
    {
        const QString path = m_dir.filePath(relativePath);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    // One sysfs device directory: "name=coretemp;temp1_label=Package id 0;temp1_input=5000".
    void writeDevice(const QString& dir, const QString& attributes) const
    {
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(dir)));
        for (const QString& attribute : attributes.split(u';', Qt::SkipEmptyParts)) {
            const qsizetype equals = attribute.indexOf(u'=');
            write(dir + u'/' + attribute.first(equals), attribute.sliced(equals + 1).toUtf8());
        }
    }

private:
    QTemporaryDir m_dir;
};

} // namespace kmb::test
