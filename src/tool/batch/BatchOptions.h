#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// picsage-analyse's command line. Arguments stay bytes: a path's bytes go through exactly.
struct BatchOptions
{
    QStringList methods{QStringLiteral("pic_category_pc")};
    bool autoFollowUp = false;
    int jobs = 1;
    int timeoutSeconds = 60;
    QByteArray output;  // empty: standard output
    int shardIndex = 0; // 1-based; 0: no sharding
    int shardCount = 0;
    QList<QByteArray> paths; // "-" stands for standard input
    bool worker = false;

    // Reads argv[1..]; on a refusal returns false with the reason in `error`.
    bool parse(int argc, char **argv, QString *error);
    // The worker's own arguments: what it needs of this run.
    QStringList workerArguments() const;
};

// The text `--help` prints.
QString batchUsage();
