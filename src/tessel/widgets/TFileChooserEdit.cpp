#include "TFileChooserEdit.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace Tessel::Widgets {

TFileChooserEdit::TFileChooserEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)),
      m_browse(new QPushButton(QIcon(QStringLiteral(":/tessel/icons/folder.svg")), QString(), this))
{
    m_edit->setClearButtonEnabled(false);
    m_edit->setMinimumHeight(36);
    m_browse->setIconSize(QSize(20, 20));
    m_browse->setFixedSize(36, 36);
    m_browse->setToolTip(tr("Browse"));
    m_browse->setObjectName(QStringLiteral("browseButton"));
    m_browse->setAccessibleName(QStringLiteral("TFileChooserEdit_browseButton"));
    m_browse->setFocusPolicy(Qt::TabFocus);
    setFocusProxy(m_edit);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_browse);

    // The edit asks for its menu through the chooser, whose policy is the one callers set.
    m_edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_edit, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (contextMenuPolicy() == Qt::NoContextMenu || contextMenuPolicy() == Qt::PreventContextMenu) {
            return;
        }
        QMenu* menu = m_edit->createStandardContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_edit->mapToGlobal(pos));
    });

    connect(m_edit, &QLineEdit::textChanged, this, &TFileChooserEdit::textChanged);
    connect(m_edit, &QLineEdit::editingFinished, this, &TFileChooserEdit::editingFinished);
    connect(m_browse, &QAbstractButton::clicked, this, &TFileChooserEdit::showFileDialog);
}

void TFileChooserEdit::setFileMode(QFileDialog::FileMode mode)
{
    m_fileMode = mode;
}

void TFileChooserEdit::setNameFilters(const QStringList& filters)
{
    m_nameFilters = filters;
}

void TFileChooserEdit::setDirectory(const QString& directory)
{
    m_directory = directory;
}

QString TFileChooserEdit::text() const
{
    return m_edit->text();
}

void TFileChooserEdit::setText(const QString& text)
{
    m_edit->setText(text);
}

void TFileChooserEdit::clear()
{
    m_edit->clear();
}

void TFileChooserEdit::setPlaceholderText(const QString& text)
{
    m_edit->setPlaceholderText(text);
}

QString TFileChooserEdit::placeholderText() const
{
    return m_edit->placeholderText();
}

void TFileChooserEdit::showFileDialog()
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(m_fileMode);
    if (m_fileMode == QFileDialog::Directory) {
        dialog->setOption(QFileDialog::ShowDirsOnly);
    }
    if (!m_nameFilters.isEmpty()) {
        dialog->setNameFilters(m_nameFilters);
    }

    // Start where the current text points, else at the configured directory.
    const QFileInfo current(text());
    QString start = m_directory.isEmpty() ? QDir::homePath() : m_directory;
    if (!text().isEmpty() && current.exists()) {
        start = current.isDir() ? current.absoluteFilePath() : current.absolutePath();
    }
    dialog->setDirectory(start);
    if (!text().isEmpty() && current.exists() && m_fileMode == QFileDialog::Directory) {
        dialog->selectFile(current.absoluteFilePath());
    }

    connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
        if (result == QDialog::Accepted) {
            const QStringList files = dialog->selectedFiles();
            if (!files.isEmpty()) {
                setText(QDir::toNativeSeparators(files.first()));
                emit fileChosen(text());
            }
        }
        emit dialogClosed(result);
    });
    m_dialog = dialog;
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    emit dialogOpened();
}

} // namespace Tessel::Widgets
