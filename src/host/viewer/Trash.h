#pragma once

#include <QString>

namespace viewer {

// Moves files into the desktop's trash as the freedesktop.org trash convention lays it out:
// the file goes to <trash>/files/<name>, a <trash>/info/<name>.trashinfo beside it records
// where it came from and when. A file on the home trash's device goes to the home trash
// ($XDG_DATA_HOME/Trash); one on another mount goes to that mount's $topdir/.Trash/$uid or
// $topdir/.Trash-$uid. The file is only ever renamed, never copied or unlinked: when no
// trash on its own device can take it, it stays where it is.
class Trash
{
public:
    // `home` is the home trash folder; empty means $XDG_DATA_HOME/Trash (or
    // ~/.local/share/Trash).
    explicit Trash(const QString &home = QString());

    // Moves `path` into a trash. On success `trashedAs` (if given) names the file inside
    // the trash; on failure `error` says why and the file is untouched.
    bool moveToTrash(const QString &path, QString *error, QString *trashedAs = nullptr) const;

    QString homeTrash() const { return m_home; }

private:
    // The trash folder for `filePath`: the home trash (topDir cleared) or its mount's own
    // (topDir set to the mount point). Empty when the file cannot be examined.
    QString trashForDevice(const QString &filePath, QString *topDir) const;

    QString m_home;
};

} // namespace viewer
