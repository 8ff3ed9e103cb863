#pragma once

#include "picsage_global.h"

#include <QDir>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>

class ImageWrapper;

// The picture files of one folder, through which the viewer steps from picture to picture
// and opens each. Shared through QSharedPointer; every picture it opens holds a reference.
// Used from the viewer's thread; pictures loading elsewhere only call pathName(name).
class PICSAGE_EXPORT ImageDirectory : public QObject
{
    Q_OBJECT
public:
    ImageDirectory();
    ~ImageDirectory() override;

    // Lists the folder's files matching `nameFilters` (the application's format table when
    // empty). False, and no folder, when the folder does not exist.
    bool init(const QString &path, const QStringList &nameFilters);

    int count() const;
    int indexOf(const QString &name) const;
    QString nameOf(const int &index) const;
    QString path() const;
    QString pathName(const QString &name) const;
    // The neighbour `offset` steps from `name`, wrapping around by modulo; files that have
    // vanished are dropped from the list on the way. Empty when none is left.
    QString pathName(const QString &name, int offset);
    // Opens the picture `offset` steps from `name`; a step past either end lands on the
    // other end's name. Null when `self` is not this folder, it is empty, or the file cannot
    // be read.
    QSharedPointer<ImageWrapper> createImage(const QString &name, int offset,
                                             QSharedPointer<ImageDirectory> self);

private:
    QDir *m_dir = nullptr;
    QDir::SortFlags m_sortFlags = QDir::Unsorted;
    QStringList m_names;
};
