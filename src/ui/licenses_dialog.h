#pragma once

// The read-only list of the open-source components we ship or link, grouped by license.

#include <QDialog>
#include <QHash>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

// Reads "components.json" and the license texts from a folder: by default the "licenses" folder
// beside the executable (where an install puts them), else the compiled-in copies (a build run
// from the build tree). Main thread only.
class LicensesDialog : public QDialog {
    Q_OBJECT

public:
    // An empty folder means the one beside the executable.
    explicit LicensesDialog(QWidget* parent = nullptr, const QString& folder = QString());

    // The folder the texts were read from: a file path or ":/licenses".
    QString sourceFolder() const { return m_sourceFolder; }

private:
    void load();
    void showItem(QTreeWidgetItem* item);
    QString licenseText(const QString& licenseId) const;

    QString m_sourceFolder;
    QHash<QString, QString> m_licenseTitles;  // license id -> title
    QHash<QString, QString> m_licenseFiles;   // license id -> file in the source folder
    QTreeWidget* m_tree = nullptr;
    QLabel* m_details = nullptr;
    QPlainTextEdit* m_text = nullptr;
};

// Opens the dialog modal to its parent and returns when it is closed.
void showLicensesDialog(QWidget* parent);
