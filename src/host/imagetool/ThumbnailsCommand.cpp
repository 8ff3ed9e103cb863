#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"
#include "WholePicture.h"

#include "formats/ImageFormats.h"
#include "host/console/ProgressBar.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace imagetool {

namespace {

constexpr int DefaultSide = 256;
constexpr int MaxJobs = 64;
constexpr int JpegQuality = 85;

// One picture and where its thumbnail goes: `folder` relative to OUTDIR (no "..": it comes
// from folder listings), the file NAME.png or NAME.jpg after the picture's whole name, so
// that a.jpg and a.png do not collide.
struct Job
{
    QString source;
    QString folder;
    QString name;
};

struct Settings
{
    QString outdir; // canonical
    QSize box;
    QString suffix; // "png" or "jpg"
    bool exifThumbnail = false;
};

void listFolder(const QString &dir, const QString &relative, bool recursive,
                const QStringList &filters, QVector<Job> *jobs)
{
    ImageDirectory directory;
    if (directory.init(dir, filters)) {
        for (int i = 0; i < directory.count(); ++i) {
            const QString name = directory.nameOf(i);
            jobs->append({directory.pathName(name), relative, name});
        }
    }
    if (!recursive) return;
    // Linked folders are not walked: they may lead in circles.
    const QStringList subfolders = QDir(dir).entryList(
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    for (const QString &sub : subfolders)
        listFolder(QDir(dir).filePath(sub), relative.isEmpty() ? sub : relative + '/' + sub,
                   recursive, filters, jobs);
}

bool inside(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// Makes OUTDIR/relative one folder at a time, so that no folder is made through a link that
// leads out of OUTDIR; false when one would lie outside it or cannot be made.
bool makeInside(const QString &root, const QString &relative)
{
    QString path = root;
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QFileInfo info(path);
        if (info.isSymLink() && !inside(info.canonicalFilePath(), root)) return false;
        // Another worker may make the same folder at the same moment.
        if (!info.exists() && !QDir().mkdir(path) && !QFileInfo(path).isDir()) return false;
    }
    return inside(QFileInfo(path).canonicalFilePath(), root);
}

// The picture at `size`, never larger than the picture, upright.
QSize thumbnailSize(const QSize &whole, const QSize &box)
{
    if (whole.width() <= box.width() && whole.height() <= box.height()) return whole;
    return ImageWrapper::fitInto(whole, box);
}

bool writeJpeg(const QString &path, const QImage &image, QString *reason)
{
    // JPEG has no transparency: transparent parts show white, as convert writes them.
    QImage opaque(image.size(), QImage::Format_RGB888);
    opaque.fill(Qt::white);
    {
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *reason = out.errorString();
        return false;
    }
    QImageWriter writer(&out, "jpeg");
    writer.setQuality(JpegQuality);
    if (!writer.write(opaque)) {
        *reason = writer.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}

struct Outcome
{
    QString target;
    QString status; // "made", "kept" or "failed"
    QSize size;
    QString error;
};

Outcome makeThumbnail(const Job &job, const Settings &settings)
{
    Outcome outcome;
    outcome.status = QStringLiteral("failed");
    const QString folder =
        job.folder.isEmpty() ? settings.outdir : settings.outdir + '/' + job.folder;
    outcome.target = folder + '/' + job.name + '.' + settings.suffix;
    if (!makeInside(settings.outdir, job.folder)) {
        outcome.error =
            QStringLiteral("the thumbnail's folder cannot be made inside %1").arg(settings.outdir);
        return outcome;
    }
    const QFileInfo target(outcome.target);
    if (target.isSymLink()) {
        outcome.error = QStringLiteral("a link stands where the thumbnail goes; left alone");
        return outcome;
    }
    const QFileInfo source(job.source);
    if (!source.exists()) {
        outcome.error = QStringLiteral("no such file");
        return outcome;
    }
    if (target.exists() && target.lastModified() >= source.lastModified()) {
        outcome.status = QStringLiteral("kept");
        return outcome;
    }

    QString reason;
    const QSharedPointer<ImageWrapper> picture =
        openPicture(job.source, &reason, nullptr, settings.box);
    if (!picture) {
        outcome.error = reason;
        return outcome;
    }
    const QSize whole =
        picture->backEndKind() == BackEndRaster ? wholeSize(*picture) : picture->imageSize(0);
    if (whole.isEmpty()) {
        outcome.error = QStringLiteral("the picture has no size");
        return outcome;
    }
    const QSize size = thumbnailSize(whole, settings.box);
    const QImage image = renderWhole(*picture, size, settings.exifThumbnail);
    if (image.isNull()) {
        outcome.error = QStringLiteral("not a picture that can be decoded");
        return outcome;
    }
    const bool written = settings.suffix == QLatin1String("png")
                             ? writePng(outcome.target, image, &reason)
                             : writeJpeg(outcome.target, image, &reason);
    if (!written) {
        outcome.error = reason;
        return outcome;
    }
    outcome.status = QStringLiteral("made");
    outcome.size = image.size();
    return outcome;
}

QString jsonLine(const Job &job, const Outcome &outcome)
{
    QString line =
        QStringLiteral("{\"path\":%1,\"thumbnail\":%2,\"status\":%3")
            .arg(jsonString(job.source), jsonString(outcome.target), jsonString(outcome.status));
    if (outcome.size.isValid())
        line += QStringLiteral(",\"width\":%1,\"height\":%2")
                    .arg(outcome.size.width())
                    .arg(outcome.size.height());
    if (!outcome.error.isEmpty()) line += QStringLiteral(",\"error\":") + jsonString(outcome.error);
    return line + QStringLiteral("}\n");
}

// Hands the jobs to the workers and reports each outcome, one at a time.
class Run
{
public:
    Run(const QVector<Job> &jobs, const Settings &settings)
        : m_jobs(jobs), m_settings(settings),
          m_bar(::isatty(STDOUT_FILENO) ? new console::ProgressBar(stdout, jobs.size()) : nullptr)
    {
    }

    void work()
    {
        for (int i = m_next++; i < m_jobs.size(); i = m_next++)
            report(m_jobs.at(i), makeThumbnail(m_jobs.at(i), m_settings));
    }

    bool failed() const { return m_failed.load(); }

private:
    void report(const Job &job, const Outcome &outcome)
    {
        std::lock_guard<std::mutex> locker(m_output);
        if (outcome.status == QLatin1String("failed")) {
            m_failed.store(true);
            if (m_bar) m_bar->interrupt();
            reportError(job.source, outcome.error);
        }
        if (m_bar) {
            m_bar->step(QFileInfo(job.source).fileName());
        } else {
            const QByteArray bytes = jsonLine(job, outcome).toUtf8();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
        }
    }

    const QVector<Job> &m_jobs;
    const Settings &m_settings;
    std::unique_ptr<console::ProgressBar> m_bar;
    std::atomic<int> m_next{0};
    std::atomic<bool> m_failed{false};
    std::mutex m_output;
};

} // namespace

int runThumbnails(const QStringList &args)
{
    const QString name = QStringLiteral("thumbnails");
    Arguments line(name,
                   {Arguments::output(QStringLiteral("a folder"), QStringLiteral("OUTDIR")),
                    {{QStringLiteral("--box")}, QStringLiteral("WxH")},
                    {{QStringLiteral("-j"), QStringLiteral("--jobs")}, QStringLiteral("a number")},
                    {{QStringLiteral("--format")}, QStringLiteral("png or jpg")},
                    {{QStringLiteral("-r"), QStringLiteral("--recursive")}},
                    {{QStringLiteral("--exif-thumbnail")}}},
                   {QStringLiteral("DIR or FILE"), 1, -1});
    const int bad = line.read(args);
    if (bad >= 0) return bad;

    Settings settings;
    settings.box = QSize(DefaultSide, DefaultSide);
    QVector<int> numbers;
    if (line.has(QStringLiteral("--box")) &&
        (!parseInts(line.value(QStringLiteral("--box")), QLatin1Char('x'), 2, &numbers) ||
         numbers[0] <= 0 || numbers[1] <= 0))
        return usageError(name, QStringLiteral("--box needs WxH, both above 0"));
    if (!numbers.isEmpty()) settings.box = QSize(numbers[0], numbers[1]);
    int jobs = qBound(1, QThread::idealThreadCount(), MaxJobs);
    if (line.has(QStringLiteral("-j"))) {
        if (!parseInts(line.value(QStringLiteral("-j")), QLatin1Char(','), 1, &numbers) ||
            numbers[0] < 1 || numbers[0] > MaxJobs)
            return usageError(name,
                              QStringLiteral("--jobs needs a number from 1 to %1").arg(MaxJobs));
        jobs = numbers[0];
    }
    settings.suffix = line.has(QStringLiteral("--format")) ? line.value(QStringLiteral("--format"))
                                                           : QStringLiteral("png");
    if (settings.suffix != QLatin1String("png") && settings.suffix != QLatin1String("jpg"))
        return usageError(name, QStringLiteral("--format needs png or jpg"));
    settings.exifThumbnail = line.has(QStringLiteral("--exif-thumbnail"));

    const QString outdir = line.value(QStringLiteral("-o"));
    if (!QDir().mkpath(outdir)) {
        reportError(outdir, QStringLiteral("the folder cannot be made"));
        return ExitOutput;
    }
    settings.outdir = QFileInfo(outdir).canonicalFilePath();

    // Every folder is listed once, before the work starts; a FILE's thumbnail goes straight
    // into OUTDIR under the file's own name, whatever path led to it.
    const QStringList filters = ImageFormats().nameFilters();
    QVector<Job> work;
    bool failed = false;
    for (const QString &operand : line.operands()) {
        const QFileInfo info(operand);
        if (info.isDir())
            listFolder(operand, QString(), line.has(QStringLiteral("-r")), filters, &work);
        else if (info.exists())
            work.append({operand, QString(), info.fileName()});
        else {
            reportError(operand, QStringLiteral("no such file or folder"));
            failed = true;
        }
    }

    // Qt makes its image plug-ins' instances on first use; that happens here, before any
    // worker asks for them.
    QImageReader::supportedImageFormats();
    Run run(work, settings);
    std::vector<std::thread> workers;
    for (int i = 1; i < qMin(jobs, work.size()); ++i)
        workers.emplace_back([&run] { run.work(); });
    run.work();
    for (std::thread &worker : workers)
        worker.join();
    return failed || run.failed() ? ExitInput : ExitOk;
}

} // namespace imagetool
