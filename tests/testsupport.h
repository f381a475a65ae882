// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Every test program works in a directory of its own and with settings of its own, so no
// test ever reads or writes a real user's notes or settings.
class TestSandbox
{
public:
    TestSandbox()
    {
        qputenv("XDG_CONFIG_HOME",
                QDir(root.path()).filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", QDir(root.path()).filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        QDir(root.path()).mkpath(QStringLiteral("work"));
        QDir(root.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(QDir(root.path()).filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR",
                QDir(root.path()).filePath(QStringLiteral("runtime")).toLocal8Bit());
        QDir::setCurrent(QDir(root.path()).filePath(QStringLiteral("work")));
    }

private:
    QTemporaryDir root;
};

// A fresh, empty working directory for one test function.
class ScopedWorkDir
{
public:
    ScopedWorkDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

#define QUILLORA_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestSandbox sandbox;                                                                       \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
