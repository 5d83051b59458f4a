#include "ui/licenses_dialog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kResourceFolder = QStringLiteral(":/licenses");
const QString kListFile = QStringLiteral("components.json");
constexpr int kLicenseIdsRole = Qt::UserRole;
constexpr int kDetailsRole = Qt::UserRole + 1;
// Wide enough for the texts' 80 columns beside the list.
constexpr int kMinimumWidth = 900;
constexpr int kMinimumHeight = 480;
constexpr int kInitialWidth = 980;
constexpr int kInitialHeight = 640;
constexpr int kTreeWidth = 260;
constexpr int kTreeMinimumWidth = 200;

QString htmlLine(const QString& label, const QString& value) {
    return QStringLiteral("<br><span style=\"color:#6B7280\">%1</span> %2")
        .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
}

QStringList stringList(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) list << item.toString();
    return list;
}

}  // namespace

LicensesDialog::LicensesDialog(QWidget* parent, const QString& folder) : QDialog(parent) {
    setObjectName(QStringLiteral("licensesDialog"));
    setWindowTitle(QStringLiteral("Open-source licenses"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kInitialWidth, kInitialHeight);
    setSizeGripEnabled(true);

    const QString installed =
        folder.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/licenses")
                         : folder;
    m_sourceFolder =
        QFileInfo::exists(installed + QLatin1Char('/') + kListFile) ? installed : kResourceFolder;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Open-source licenses"), this);
    title->setObjectName(QStringLiteral("licensesTitle"));
    title->setAccessibleName(QStringLiteral("Open-source licenses"));
    auto* intro = new QLabel(
        QStringLiteral("Ondaro Doredoradar is built on these open-source components. Select a "
                       "license or a component to read its text."),
        this);
    intro->setObjectName(QStringLiteral("licensesIntro"));
    intro->setAccessibleName(QStringLiteral("About this list"));
    intro->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(intro);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("licensesSplitter"));
    splitter->setChildrenCollapsible(false);
    m_tree = new QTreeWidget(splitter);
    m_tree->setObjectName(QStringLiteral("licensesTree"));
    m_tree->setAccessibleName(QStringLiteral("Components by license"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setMinimumWidth(kTreeMinimumWidth);
    m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tree->setTextElideMode(Qt::ElideRight);

    auto* pane = new QWidget(splitter);
    pane->setObjectName(QStringLiteral("licensesPane"));
    auto* paneLayout = new QVBoxLayout(pane);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->setSpacing(8);
    m_details = new QLabel(pane);
    m_details->setObjectName(QStringLiteral("licensesDetails"));
    m_details->setAccessibleName(QStringLiteral("Selected item"));
    m_details->setWordWrap(true);
    m_details->setTextFormat(Qt::RichText);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text = new QPlainTextEdit(pane);
    m_text->setObjectName(QStringLiteral("licensesText"));
    m_text->setAccessibleName(QStringLiteral("License text"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::TypeWriter);
    m_text->setFont(mono);
    paneLayout->addWidget(m_details);
    paneLayout->addWidget(m_text, 1);
    splitter->addWidget(m_tree);
    splitter->addWidget(pane);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kTreeWidth, kInitialWidth - kTreeWidth});
    layout->addWidget(splitter, 1);

    // Not a default button: Return in the list must not close the dialog.
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("licensesCloseButton"));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(close);
    layout->addLayout(buttonRow);

    setTabOrder(m_tree, m_text);
    setTabOrder(m_text, close);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { showItem(current); });
    load();
    m_tree->setFocus();
}

void LicensesDialog::load() {
    QFile file(m_sourceFolder + QLatin1Char('/') + kListFile);
    const QJsonObject list = file.open(QIODevice::ReadOnly)
                                 ? QJsonDocument::fromJson(file.readAll()).object()
                                 : QJsonObject();
    const QJsonArray components = list.value(QStringLiteral("components")).toArray();
    if (components.isEmpty()) {
        m_details->setText(QStringLiteral("The list of components could not be read from %1.")
                               .arg(file.fileName().toHtmlEscaped()));
        return;
    }

    // Groups keep the order of the "licenses" table; a license missing from it still gets one.
    QHash<QString, QTreeWidgetItem*> groups;
    QHash<QString, QStringList> users;
    auto groupFor = [&](const QString& id) {
        if (QTreeWidgetItem* existing = groups.value(id)) return existing;
        // Debian's short name in the list; the full title shows when the group is selected.
        auto* group = new QTreeWidgetItem(m_tree, {id});
        group->setData(0, kLicenseIdsRole, QStringList{id});
        group->setToolTip(0, m_licenseTitles.value(id, id));
        QFont bold = group->font(0);
        bold.setWeight(QFont::DemiBold);
        group->setFont(0, bold);
        group->setExpanded(true);
        groups.insert(id, group);
        return group;
    };
    for (const QJsonValue& value : list.value(QStringLiteral("licenses")).toArray()) {
        const QJsonObject license = value.toObject();
        const QString id = license.value(QStringLiteral("id")).toString();
        m_licenseTitles.insert(id, license.value(QStringLiteral("title")).toString(id));
        m_licenseFiles.insert(id, license.value(QStringLiteral("file")).toString());
        groupFor(id);
    }

    for (const QJsonValue& value : components) {
        const QJsonObject component = value.toObject();
        const QString name = component.value(QStringLiteral("name")).toString();
        const QStringList ids = stringList(component.value(QStringLiteral("licenses")));
        const QString details =
            QStringLiteral("<b>%1</b>").arg(name.toHtmlEscaped()) +
            htmlLine(QStringLiteral("Used for:"),
                     component.value(QStringLiteral("use")).toString()) +
            htmlLine(QStringLiteral("Copyright:"),
                     component.value(QStringLiteral("copyright")).toString()) +
            htmlLine(QStringLiteral("License:"),
                     component.value(QStringLiteral("statement")).toString()) +
            htmlLine(
                QStringLiteral("Debian packages:"),
                stringList(component.value(QStringLiteral("packages"))).join(QStringLiteral(", ")));
        for (const QString& id : ids) {
            auto* item = new QTreeWidgetItem(groupFor(id), {name});
            item->setData(0, kLicenseIdsRole, ids);
            item->setData(0, kDetailsRole, details);
            users[id] << name;
        }
    }

    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        QTreeWidgetItem* group = it.value();
        if (group->childCount() == 0) {
            delete group;
            continue;
        }
        const QString title = m_licenseTitles.value(it.key(), it.key());
        group->setData(
            0, kDetailsRole,
            QStringLiteral("<b>%1</b> (%2)").arg(title.toHtmlEscaped(), it.key().toHtmlEscaped()) +
                htmlLine(QStringLiteral("Used by:"),
                         users.value(it.key()).join(QStringLiteral(", "))));
    }
    if (m_tree->topLevelItemCount() > 0) m_tree->setCurrentItem(m_tree->topLevelItem(0));
}

void LicensesDialog::showItem(QTreeWidgetItem* item) {
    if (!item) return;
    m_details->setText(item->data(0, kDetailsRole).toString());
    const QStringList ids = item->data(0, kLicenseIdsRole).toStringList();
    QStringList texts;
    for (const QString& id : ids) {
        // A component under more than one license shows each, headed by its name.
        const QString heading =
            ids.size() > 1 ? QStringLiteral("%1 (%2)\n\n").arg(m_licenseTitles.value(id, id), id)
                           : QString();
        texts << heading + licenseText(id);
    }
    m_text->setPlainText(texts.join(QStringLiteral("\n\n\n")));
}

QString LicensesDialog::licenseText(const QString& licenseId) const {
    const QString fileName = m_licenseFiles.value(licenseId);
    QFile file(m_sourceFolder + QLatin1Char('/') + fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("The text of %1 could not be read from %2.")
            .arg(licenseId, file.fileName());
    return QString::fromUtf8(file.readAll());
}

void showLicensesDialog(QWidget* parent) {
    LicensesDialog dialog(parent);
    dialog.exec();
}
