#include "host/viewer/SkinnedDialogs.h"

#include "host/VuComboBox.h"
#include "host/VuLineEdit.h"
#include "host/VuPushButton.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinStyle.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace viewer {

namespace {

// The skin's strong look for the button that does the work.
host::VuPushButton *strongButton(const QString &text, QWidget *parent)
{
    auto *button = new host::VuPushButton(text, parent);
    auto *style = qobject_cast<skin::VuSkinStyle *>(QApplication::style());
    if (style && style->options()) button->setSkinOption(style->options()->pushButtonTextStrong());
    button->setXRadius(4);
    button->setYRadius(4);
    return button;
}

host::VuPushButton *plainButton(const QString &text, QWidget *parent)
{
    auto *button = new host::VuPushButton(text, parent);
    button->setXRadius(4);
    button->setYRadius(4);
    return button;
}

} // namespace

SaveChoiceDialog::SaveChoiceDialog(const QString &name, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Save the turned picture"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("\"%1\" was turned. Write the turn over the file, or into a copy beside it?").arg(name),
        this));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *overwrite = strongButton(tr("&Overwrite"), this);
    auto *copy = plainButton(tr("Save a &copy"), this);
    auto *cancel = plainButton(tr("Cancel"), this);
    for (QWidget *button : {overwrite, copy, cancel})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    connect(overwrite, &QPushButton::clicked, this, [this] { choose(Overwrite); });
    connect(copy, &QPushButton::clicked, this, [this] { choose(Copy); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void SaveChoiceDialog::choose(Choice choice)
{
    m_choice = choice;
    accept();
}

void SaveChoiceDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_O)
        choose(Overwrite);
    else if (event->key() == Qt::Key_C)
        choose(Copy);
    else
        QDialog::keyPressEvent(event);
}

PathDialog::PathDialog(const QString &title, const QString &path, const QStringList &formats,
                       QWidget *parent)
    : QDialog(parent), m_path(new host::VuLineEdit(this))
{
    setWindowTitle(title);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(title, this));
    m_path->setText(path);
    m_path->setMinimumWidth(420);
    layout->addWidget(m_path);
    if (!formats.isEmpty()) {
        m_format = new host::VuComboBox(this);
        m_format->addItems(formats);
        layout->addWidget(m_format);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *ok = strongButton(tr("Save"), this);
    auto *cancel = plainButton(tr("Cancel"), this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_path->setFocus();
}

QString PathDialog::path() const
{
    return m_path->text().trimmed();
}

QString PathDialog::format() const
{
    return m_format ? m_format->currentText() : QString();
}

} // namespace viewer
