// A path field with a browse button that opens a file dialog.
#pragma once

#include <QFileDialog>
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QPushButton;

namespace Tessel::Widgets {

// The text can be typed or picked: the browse button (object name "browseButton", and showFileDialog()) opens a
// window-modal QFileDialog, Qt's own rather than a platform one, so it looks the same in every environment. Picking a
// path sets it as the text. In QFileDialog::Directory mode only directories are offered. A context menu policy set on
// the chooser also governs its line edit (Qt::NoContextMenu turns the edit's menu off).
class TFileChooserEdit : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)

public:
    explicit TFileChooserEdit(QWidget* parent = nullptr);

    void setFileMode(QFileDialog::FileMode mode);
    QFileDialog::FileMode fileMode() const { return m_fileMode; }

    void setNameFilters(const QStringList& filters);
    QStringList nameFilters() const { return m_nameFilters; }

    // Where the dialog opens while the text is empty (the home directory when unset).
    void setDirectory(const QString& directory);
    QString directory() const { return m_directory; }

    QString text() const;
    void setText(const QString& text);
    void clear();

    void setPlaceholderText(const QString& text);
    QString placeholderText() const;

    QLineEdit* lineEdit() const { return m_edit; }
    // The dialog while it is open, else null.
    QFileDialog* fileDialog() const { return m_dialog; }

public slots:
    void showFileDialog();

signals:
    void fileChosen(const QString& path);  // picked in the dialog
    void textChanged(const QString& text); // any change, typed, picked or set
    void editingFinished();
    void dialogOpened();
    void dialogClosed(int result); // QDialog::Accepted or QDialog::Rejected

private:
    QLineEdit* m_edit;
    QPushButton* m_browse;
    QPointer<QFileDialog> m_dialog;
    QFileDialog::FileMode m_fileMode = QFileDialog::ExistingFile;
    QStringList m_nameFilters;
    QString m_directory;
};

} // namespace Tessel::Widgets
