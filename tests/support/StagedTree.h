#pragma once

// A throw-away copy of the installed layout: the probe program (which carries the library's
// code) in opt/picsage/<version>/lib, model folders beside it, recognition modules in
// opt/lensmind/<version>/lensmind, and a settings store of its own.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class StagedTree
{
public:
    StagedTree()
    {
        QDir().mkpath(libDir());
        QDir().mkpath(configDir());
        copy(QStringLiteral(PROBE_PATH), probePath());
    }

    QString root() const { return m_dir.path(); }
    QString libDir() const
    {
        return m_dir.filePath(QStringLiteral("opt/picsage/" PICSAGE_VERSION "/lib"));
    }
    QString configDir() const { return m_dir.filePath(QStringLiteral("config")); }
    QString probePath() const { return libDir() + QStringLiteral("/probe"); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QString moduleFolder(const QString &version) const
    {
        return m_dir.filePath(QStringLiteral("opt/lensmind/%1/lensmind").arg(version));
    }

    void installModule(const QString &module, const QString &version = QStringLiteral("1.0"))
    {
        QDir().mkpath(moduleFolder(version));
        copy(module, moduleFolder(version) + QStringLiteral("/lensmind.so"));
    }

    void installLibrary() { copy(QStringLiteral(LIBPICSAGE_PATH), libDir() + "/libpicsage.so"); }

    // The library and its launcher, which finds the library beside itself.
    QString installLauncher()
    {
        installLibrary();
        copy(QStringLiteral(LAUNCHER_PATH), libDir() + "/picsage");
        return libDir() + "/picsage";
    }

    // Writes model/<method>/<name>; returns the file's path.
    QString addModelFile(const QString &method, const QString &name, const QByteArray &content)
    {
        const QString folder = libDir() + QStringLiteral("/model/") + method;
        QDir().mkpath(folder);
        QFile file(folder + QLatin1Char('/') + name);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return file.fileName();
    }

    // Copies a whole model tree (for instance lensmind's own) below lib/model.
    void installModels(const QString &from)
    {
        const QDir source(from);
        for (const QString &method : source.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QFileInfo &f : QDir(source.filePath(method)).entryInfoList(QDir::Files)) {
                QFile in(f.absoluteFilePath());
                in.open(QIODevice::ReadOnly);
                addModelFile(method, f.fileName(), in.readAll());
            }
        }
    }

    // Runs the probe; returns its exit code as the signed 8-bit value exit() was given.
    int probe(const QStringList &args, QByteArray *output = nullptr) const
    {
        return run(probePath(), args, output);
    }

    // Runs a program of the tree with the tree's settings store. Without `display`, the
    // program finds no display and no platform choice in its environment.
    int run(const QString &program, const QStringList &args, QByteArray *output = nullptr,
            bool display = true) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
        if (display) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(QLatin1String(name));
        }
        process.setProcessEnvironment(env);
        process.start(program, args);
        if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit) {
            qWarning() << program << "failed:" << process.readAllStandardError();
            return 1000;
        }
        if (output) *output = process.readAllStandardOutput();
        return qint8(process.exitCode());
    }

    // The stored record of a method, as the viewer reads it after the process ended.
    QString stored(const QString &method) const
    {
        QSettings store(configDir() + QStringLiteral("/ormelo/office.conf"), QSettings::IniFormat);
        return store
            .value(QStringLiteral(PICSAGE_VERSION "/plugins/photo/picsage/Psg_Ret-%1%2")
                       .arg(method)
                       .arg(3))
            .toString();
    }

private:
    static void copy(const QString &from, const QString &to)
    {
        QFile::remove(to);
        if (!QFile::copy(from, to)) qFatal("cannot copy %s", qPrintable(from));
    }

    QTemporaryDir m_dir;
};
