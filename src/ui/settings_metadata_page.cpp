// The settings dialog's Metadata section: where song titles come from, and the stream's details.
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/log_categories.h"
#include "platform/window_titles.h"
#include "ui/alert_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/settings_form.h"
#include "ui/widgets/animated_toggle.h"
#include "ui/window_picker_dialog.h"

using namespace settingsform;

namespace {

constexpr int kFileSource = 1;
constexpr int kUrlSource = 2;
constexpr int kWindowSource = 3;
const QString kNoWindow = QStringLiteral("No window selected");

QWidget* makeRowWidget(QWidget* parent, QWidget* main, QWidget* side) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    main->setParent(row);
    side->setParent(row);
    layout->addWidget(main, 1);
    layout->addWidget(side);
    return row;
}

QWidget* makeRowGroup(QWidget* parent, std::initializer_list<QWidget*> rows) {
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    for (QWidget* row : rows) {
        row->setParent(group);
        layout->addWidget(row);
    }
    return group;
}

QLineEdit* makeInput(const QString& placeholder, const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QStringLiteral("metadataInput"));
    edit->setPlaceholderText(placeholder);
    return edit;
}

}  // namespace

QWidget* SettingsDialog::buildMetadataPage() {
    QVBoxLayout* layout = nullptr;
    QWidget* page = makePage(layout);
    QWidget* content = page->findChild<QWidget*>(QStringLiteral("settingsPageContent"));

    m_sourceCombo = makeCombo(content);
    m_sourceCombo->addItems({QStringLiteral("Manual"), QStringLiteral("File"),
                             QStringLiteral("URL"), QStringLiteral("Window Title")});
    layout->addWidget(makeField(QStringLiteral("Metadata Source"), m_sourceCombo, content));

    m_opusWarningLabel = makeLabel(
        QStringLiteral("Opus/Vorbis streams use header-based metadata. Only Manual mode is "
                       "supported.\nMetadata is embedded once when the stream starts."),
        QStringLiteral("opusWarningLabel"), content);
    m_opusWarningLabel->setWordWrap(true);
    m_opusWarningLabel->setVisible(false);
    layout->addWidget(m_opusWarningLabel);

    m_filePathEdit = makeInput(QStringLiteral("Select a file..."), QString(), content);
    m_browseFileButton = new QPushButton(QStringLiteral("Browse"), content);
    m_browseFileButton->setObjectName(QStringLiteral("browseButton"));
    m_browseFileButton->setAccessibleName(QStringLiteral("Browse for metadata file"));
    m_filePathEdit->setAccessibleName(QStringLiteral("Metadata File"));
    m_fileLastLineToggle = new AnimatedToggle(content);
    m_fileRows = makeRowGroup(
        content, {makeField(QStringLiteral("Metadata File"),
                            makeRowWidget(content, m_filePathEdit, m_browseFileButton), content),
                  makeToggleRow(QStringLiteral("Read last line (instead of first)"),
                                m_fileLastLineToggle, content)});
    layout->addWidget(m_fileRows);

    m_urlEdit = makeInput(QStringLiteral("https://example.com/nowplaying.txt"), QString(), content);
    m_urlLastLineToggle = new AnimatedToggle(content);
    m_urlIntervalSpin = makeSpinBox(5, 300, 30, QString(), content);
    m_urlIntervalSpin->setMaximumWidth(160);
    m_urlRows = makeRowGroup(
        content,
        {makeField(QStringLiteral("Metadata URL"), m_urlEdit, content),
         makeToggleRow(QStringLiteral("Read last line (instead of first)"), m_urlLastLineToggle,
                       content),
         makeField(QStringLiteral("Update interval (seconds):"), m_urlIntervalSpin, content)});
    layout->addWidget(m_urlRows);

    m_windowTitleLabel = makeLabel(kNoWindow, QStringLiteral("selectedWindowLabel"), content);
    m_windowTitleLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_browseWindowButton = new QPushButton(QStringLiteral("Browse..."), content);
    m_browseWindowButton->setObjectName(QStringLiteral("browseButton"));
    m_browseWindowButton->setAccessibleName(QStringLiteral("Choose a window to monitor"));
    m_windowRows = makeRowGroup(
        content,
        {makeField(QStringLiteral("Selected Window"),
                   makeRowWidget(content, m_windowTitleLabel, m_browseWindowButton), content)});
    layout->addWidget(m_windowRows);

    layout->addSpacing(8);
    addHeading(layout, QStringLiteral("Stream Metadata"),
               QStringLiteral("Information about your stream, visible to listeners and "
                              "directories."),
               content);
    m_streamNameEdit = makeInput(QStringLiteral("My Awesome Stream"),
                                 QStringLiteral("Unspecified Stream"), content);
    m_streamDescriptionEdit = makeInput(QStringLiteral("A brief description of your stream"),
                                        QStringLiteral("Unspecified Stream"), content);
    m_streamGenreEdit =
        makeInput(QStringLiteral("Pop, Rock, Jazz..."), QStringLiteral("Unspecified"), content);
    m_streamUrlEdit = makeInput(QStringLiteral("https://example.com"), QString(), content);
    auto* streamGrid = new QGridLayout;
    streamGrid->setHorizontalSpacing(16);
    streamGrid->setVerticalSpacing(12);
    streamGrid->addWidget(makeField(QStringLiteral("Stream Name"), m_streamNameEdit, content), 0,
                          0);
    streamGrid->addWidget(
        makeField(QStringLiteral("Stream Description"), m_streamDescriptionEdit, content), 0, 1);
    streamGrid->addWidget(makeField(QStringLiteral("Genre"), m_streamGenreEdit, content), 1, 0);
    streamGrid->addWidget(makeField(QStringLiteral("Station URL"), m_streamUrlEdit, content), 1, 1);
    streamGrid->setColumnStretch(0, 1);
    streamGrid->setColumnStretch(1, 1);
    layout->addLayout(streamGrid);
    m_streamPublicToggle = new AnimatedToggle(content);
    layout->addWidget(
        makeToggleRow(QStringLiteral("List in public directory"), m_streamPublicToggle, content));
    layout->addStretch(1);

    connect(m_sourceCombo, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onMetadataSourceChanged);
    connect(m_filePathEdit, &QLineEdit::textEdited, this, &SettingsDialog::metadataFilePathChanged);
    connect(m_browseFileButton, &QPushButton::clicked, this, &SettingsDialog::onBrowseMetadataFile);
    connect(m_browseWindowButton, &QPushButton::clicked, this,
            &SettingsDialog::selectWindowToMonitor);
    for (AnimatedToggle* toggle : {m_fileLastLineToggle, m_urlLastLineToggle}) {
        connect(toggle, &AnimatedToggle::toggled, this, &SettingsDialog::onReadLastLineToggled);
    }
    connect(m_urlIntervalSpin, &QSpinBox::valueChanged, this,
            &SettingsDialog::metadataUrlIntervalChanged);
    for (QLineEdit* edit :
         {m_streamNameEdit, m_streamDescriptionEdit, m_streamGenreEdit, m_streamUrlEdit}) {
        connect(edit, &QLineEdit::textEdited, this, &SettingsDialog::streamMetadataChanged);
    }
    connect(m_streamPublicToggle, &AnimatedToggle::toggled, this,
            &SettingsDialog::streamMetadataChanged);
    updateMetadataRows();
    return page;
}

void SettingsDialog::updateMetadataRows() {
    const int source = m_sourceCombo->currentIndex();
    m_fileRows->setVisible(source == kFileSource);
    m_urlRows->setVisible(source == kUrlSource);
    m_windowRows->setVisible(source == kWindowSource);
}

void SettingsDialog::showAcceptedSource() {
    {
        const QSignalBlocker blocker(m_sourceCombo);
        m_sourceCombo->setCurrentIndex(m_acceptedSourceIndex);
    }
    updateMetadataRows();
}

void SettingsDialog::onMetadataSourceChanged(int index) {
    updateMetadataRows();
    if (index == kWindowSource && !selectWindowToMonitor()) {
        showAcceptedSource();
        return;
    }
    if (index == kFileSource && m_filePathEdit->text().isEmpty()) {
        onBrowseMetadataFile();
        if (m_filePathEdit->text().isEmpty()) {
            showAcceptedSource();
            return;
        }
    }
    if (index == kUrlSource) m_urlEdit->setFocus(Qt::OtherFocusReason);
    m_acceptedSourceIndex = index;
    Q_EMIT metadataSourceChanged(m_sourceCombo->itemText(index));
}

void SettingsDialog::onBrowseMetadataFile() {
    const QString path = m_fileChooser(this, QStringLiteral("Select Metadata File"),
                                       QStringLiteral("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty()) return;
    m_filePathEdit->setText(path);
    Q_EMIT metadataFilePathChanged(path);
}

bool SettingsDialog::selectWindowToMonitor() {
    if (!platform::windowSystemAvailable()) {
        qCWarning(lcUi).noquote() << "Window picker: no window system to ask";
        AlertDialog::showWarning(
            this, QStringLiteral("No Windows"),
            QStringLiteral("Other programs' windows cannot be listed: no window system is "
                           "reachable (no X server on the DISPLAY)."));
        return false;
    }
    QList<WindowPickerDialog::Entry> entries;
    for (const platform::WindowEntry& window : platform::listApplicationWindows()) {
        entries.append({QString::fromStdU16String(window.title), quintptr(window.handle)});
    }
    if (entries.isEmpty()) {
        AlertDialog::showWarning(this, QStringLiteral("No Windows"),
                                 QStringLiteral("No application windows found."));
        return false;
    }
    WindowPickerDialog picker(entries, this);
    WindowPickerDialog::Entry chosen;
    if (picker.exec() != QDialog::Accepted || !picker.selection(chosen)) return false;
    m_selectedWindowHandle = chosen.handle;
    setMetadataWindowTitle(chosen.title);
    Q_EMIT metadataWindowSelected(chosen.title, chosen.handle);
    return true;
}

void SettingsDialog::onReadLastLineToggled(bool readLastLine) {
    for (AnimatedToggle* toggle : {m_fileLastLineToggle, m_urlLastLineToggle}) {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(readLastLine);
    }
    Q_EMIT metadataFileReadModeChanged(readLastLine);
}

void SettingsDialog::setMetadataSource(const QString& source) {
    const QString name = source == QLatin1String("Text File") ? QStringLiteral("File") : source;
    const int index = m_sourceCombo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0 || m_metadataLocked) return;
    m_acceptedSourceIndex = index;
    showAcceptedSource();
}

void SettingsDialog::setOpusMetadataLock(bool locked) {
    m_metadataLocked = locked;
    if (locked) {
        // The accepted source follows, or a URL or file source left behind would keep the
        // dialog from closing while the user cannot change it.
        m_acceptedSourceIndex = 0;
        showAcceptedSource();
    }
    m_sourceCombo->setEnabled(!locked);
    m_opusWarningLabel->setVisible(locked);
}

void SettingsDialog::setMetadataFilePath(const QString& path) {
    const QSignalBlocker blocker(m_filePathEdit);
    m_filePathEdit->setText(path);
}

void SettingsDialog::setMetadataUrl(const QString& url) {
    const QSignalBlocker blocker(m_urlEdit);
    m_urlEdit->setText(url);
}

void SettingsDialog::setMetadataWindowTitle(const QString& title) {
    m_selectedWindowTitle = title;
    m_windowTitleLabel->setText(title.isEmpty() ? kNoWindow : title);
    m_windowTitleLabel->setToolTip(title);
}

void SettingsDialog::setMetadataReadLastLine(bool readLastLine) {
    for (AnimatedToggle* toggle : {m_fileLastLineToggle, m_urlLastLineToggle}) {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(readLastLine);
    }
}

void SettingsDialog::setMetadataUrlInterval(int seconds) {
    const QSignalBlocker blocker(m_urlIntervalSpin);
    m_urlIntervalSpin->setValue(seconds);
}

void SettingsDialog::setStreamName(const QString& name) { m_streamNameEdit->setText(name); }
void SettingsDialog::setStreamDescription(const QString& description) {
    m_streamDescriptionEdit->setText(description);
}
void SettingsDialog::setStreamGenre(const QString& genre) { m_streamGenreEdit->setText(genre); }
void SettingsDialog::setStreamUrl(const QString& url) { m_streamUrlEdit->setText(url); }
void SettingsDialog::setStreamPublic(bool listed) {
    const QSignalBlocker blocker(m_streamPublicToggle);
    m_streamPublicToggle->setChecked(listed);
}

QString SettingsDialog::streamName() const { return m_streamNameEdit->text(); }
QString SettingsDialog::streamDescription() const { return m_streamDescriptionEdit->text(); }
QString SettingsDialog::streamGenre() const { return m_streamGenreEdit->text(); }
QString SettingsDialog::streamUrl() const { return m_streamUrlEdit->text(); }
bool SettingsDialog::streamPublic() const { return m_streamPublicToggle->isChecked(); }
