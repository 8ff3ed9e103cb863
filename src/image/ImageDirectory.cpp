#include "image/ImageDirectory.h"

#include "app/PhotoApplication.h"
#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QCoreApplication>
#include <QFileInfo>

ImageDirectory::ImageDirectory() = default;

ImageDirectory::~ImageDirectory()
{
    delete m_dir;
}

bool ImageDirectory::init(const QString &path, const QStringList &nameFilters)
{
    delete m_dir;
    m_dir = new QDir(path);
    if (!m_dir->exists()) {
        delete m_dir;
        m_dir = nullptr;
        m_names.clear();
        return false;
    }
    QStringList filters = nameFilters;
    if (filters.isEmpty()) {
        const auto *app = qobject_cast<PhotoApplication *>(QCoreApplication::instance());
        if (app && app->imageFormats()) filters = app->imageFormats()->nameFilters();
    }
    if (!filters.isEmpty()) m_dir->setNameFilters(filters);
    m_dir->setSorting(m_sortFlags);
    m_dir->setFilter(QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::System |
                     QDir::NoDotAndDotDot);
    m_names = m_dir->entryList();
    return true;
}

int ImageDirectory::count() const
{
    return m_names.size();
}

int ImageDirectory::indexOf(const QString &name) const
{
    return m_names.indexOf(name);
}

QString ImageDirectory::nameOf(const int &index) const
{
    return m_names.value(index);
}

QString ImageDirectory::path() const
{
    return m_dir ? m_dir->absolutePath() : QString();
}

QString ImageDirectory::pathName(const QString &name) const
{
    return m_dir ? m_dir->absoluteFilePath(name) : QString();
}

QString ImageDirectory::pathName(const QString &name, int offset)
{
    if (m_names.isEmpty() || !m_dir) return {};
    int i = indexOf(name) + offset;
    while (!m_names.isEmpty()) {
        const int count = m_names.size();
        if (i < 0)
            i = count - 1;
        else if (i >= count)
            i %= count;
        const QString candidate = m_dir->absoluteFilePath(m_names.at(i));
        if (QFileInfo::exists(candidate)) return candidate;
        m_names.removeAt(i);
        // The names after it moved up by one: a step forward counts from the one now in its
        // place, so stepping from a to c over a vanished b lands on c, not past it.
        i += offset > 0 ? offset - 1 : offset;
    }
    return {};
}

QSharedPointer<ImageWrapper> ImageDirectory::createImage(const QString &name, int offset,
                                                         QSharedPointer<ImageDirectory> self)
{
    if (self.data() != this || m_names.isEmpty()) return {};
    int i = indexOf(name) + offset;
    if (i < 0) i = m_names.size() - 1;
    if (i >= m_names.size()) i = 0;
    QSharedPointer<ImageWrapper> image(new ImageWrapper);
    if (!image->init(self, m_names.at(i))) return {};
    return image;
}
