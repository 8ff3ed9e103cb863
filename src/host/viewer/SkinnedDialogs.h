#pragma once

#include <QDialog>
#include <QStringList>

namespace host {
class VuComboBox;
class VuLineEdit;
} // namespace host

namespace viewer {

// What to do with a turned picture on save.
class SaveChoiceDialog : public QDialog
{
    Q_OBJECT
public:
    enum Choice { Cancel, Overwrite, Copy };

    SaveChoiceDialog(const QString &name, QWidget *parent = nullptr);
    Choice choice() const { return m_choice; }

protected:
    // O chooses overwrite, C the copy, as the buttons' underlined letters say.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void choose(Choice choice);

    Choice m_choice = Cancel;
};

// Asks for a file path, and with `formats` given for the format to write it in.
class PathDialog : public QDialog
{
    Q_OBJECT
public:
    PathDialog(const QString &title, const QString &path, const QStringList &formats = {},
               QWidget *parent = nullptr);

    QString path() const;
    // The chosen entry of `formats`; empty without formats.
    QString format() const;

private:
    host::VuLineEdit *m_path;
    host::VuComboBox *m_format = nullptr;
};

} // namespace viewer
