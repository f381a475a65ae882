// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <QByteArrayList>
#include <QHash>
#ifdef Q_OS_LINUX
#include <cerrno>
#include <dlfcn.h>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

// Every test program works in a directory of its own and with settings of its own, so no
// test ever reads or writes a real user's notes or settings.
class TestSandbox
{
public:
    TestSandbox()
    {
        // Input methods, platform themes and the accessibility bus of the caller's desktop
        // talk to its session bus on their own.
        for (const char *variable : {"QT_IM_MODULE", "QT_QPA_PLATFORMTHEME", "AT_SPI_BUS_ADDRESS"})
            qunsetenv(variable);
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

// A modal box that no test is waiting to answer fails the running test at once, naming the
// box, and is closed: a fault that brings up a box never holds a test until its timeout.
// A test that answers boxes counts itself in `expected` while it waits.
class UnexpectedBoxGuard : public QObject
{
public:
    static inline int expected = 0;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QDialog *>(watched);
        if (event->type() == QEvent::Show && dialog && dialog->isModal() && expected == 0) {
            const auto *box = qobject_cast<QMessageBox *>(dialog);
            const QString what = QStringLiteral("unexpected box \"%1\": %2")
                                     .arg(dialog->windowTitle(), box ? box->text() : QString());
            QTest::qFail(qPrintable(what), __FILE__, __LINE__);
            QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }
};

#ifdef Q_OS_LINUX
// System calls watched and made to fail through libfiu's wrappers of the C library, which
// CTest preloads where fiu-utils is installed. While one lives, each call of its points
// ("posix/io/sync/fsync") is logged by the last part of the name; "NAME@N" fails the Nth
// call with EIO.
class SystemCalls
{
public:
    static bool available() { return ::dlsym(RTLD_DEFAULT, "fiu_enable_external"); }
    explicit SystemCalls(const QByteArrayList &points)
    {
        current = this;
        for (const QByteArray &point : points) {
            const QByteArray name = point.split('@').first();
            failing[name] = point.split('@').value(1).toInt();
            fiu<int (*)(const char *, int, void *, unsigned, Decide *)>("fiu_enable_external")(
                name.constData(), 1, nullptr, 0, &decide);
        }
    }
    ~SystemCalls()
    {
        for (auto point = failing.cbegin(); point != failing.cend(); ++point)
            fiu<int (*)(const char *)>("fiu_disable")(point.key().constData());
        current = nullptr;
    }
    QByteArrayList calls;

private:
    using Decide = int(const char *, int *, void **, unsigned *);
    template <typename Function> static Function fiu(const char *symbol)
    {
        return Function(::dlsym(RTLD_DEFAULT, symbol));
    }
    static int decide(const char *name, int *, void **failinfo, unsigned *)
    {
        const QByteArray point(name);
        current->calls << point.mid(point.lastIndexOf('/') + 1);
        *failinfo = reinterpret_cast<void *>(qintptr(EIO));
        return ++current->seen[point] == current->failing.value(point);
    }
    static inline SystemCalls *current = nullptr;
    QHash<QByteArray, int> failing, seen;
};
#else
struct SystemCalls
{
    static bool available() { return false; }
    explicit SystemCalls(const QByteArrayList &) {}
    QByteArrayList calls;
};
#endif

// The whole of a file, or nothing where it cannot be read.
inline QByteArray readAll(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Why a test that needs SystemCalls is skipped.
inline const char *withoutSystemCalls()
{
#ifdef QUILLORA_EMULATED
    return "not under emulation: libfiu's preloaded wrappers would load into the emulator, "
           "not into the emulated program";
#else
    return "needs libfiu's preloaded wrappers (fiu-utils)";
#endif
}

template <typename TestClass> int runTests(int argc, char **argv)
{
    TestSandbox sandbox;
    QApplication app(argc, argv);
    UnexpectedBoxGuard guard;
    app.installEventFilter(&guard);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

// Permission checks mean nothing to root: as root, a test of them runs as "nobody".
inline void dropRootPrivileges()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        qFatal("cannot drop root privileges");
#endif
}

#define QUILLORA_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return runTests<TestClass>(argc, argv);                                                    \
    }

#define QUILLORA_TEST_MAIN_AS_USER(TestClass)                                                      \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        dropRootPrivileges();                                                                      \
        return runTests<TestClass>(argc, argv);                                                    \
    }
