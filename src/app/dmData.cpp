#include "app/dmData.h"

#include "app/Application.h"
#include "core/Errors.h"
#include "net/UrlActions.h"
#include "playback/AudioFormats.h"
#include "ui/BalloonHint.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

TdmData* dmData = nullptr;

namespace {

// The play lists the program reads and writes, each with the extension a name typed without
// one gets when its filter is picked for Save.
struct TListFilter {
    const char* Name;
    const char* Patterns;
    const char* Suffix;
};
constexpr TListFilter kOndrixFiles{"Ondrix Files", "*.qdl *.QDL", "qdl"};
constexpr TListFilter kM3u8{"M3U8 play lists", "*.m3u8 *.M3U8", "m3u8"};
constexpr TListFilter kXspf{"XSPF play lists", "*.xspf *.XSPF", "xspf"};
constexpr TListFilter kPls{"PLS play lists", "*.pls *.PLS", "pls"};
constexpr const char* kAllLists = "*.qdl *.m3u *.m3u8 *.pls *.xspf *.QDL *.M3U *.M3U8 *.PLS *.XSPF";

QString filterText(const TListFilter& f) {
    return QStringLiteral("%1 (%2)").arg(QLatin1String(f.Name), QLatin1String(f.Patterns));
}

// The saved-list dialogs: Qt's own, ".qdl" added to a name typed without an extension.
std::unique_ptr<QFileDialog> makeListDialog(QFileDialog::AcceptMode mode) {
    auto d = std::make_unique<QFileDialog>();
    d->setOption(QFileDialog::DontUseNativeDialog);
    d->setAcceptMode(mode);
    // a typed name need not exist, and only one file is chosen
    d->setFileMode(QFileDialog::AnyFile);
    if (mode == QFileDialog::AcceptOpen) {
        // ours and the other players' lists alike
        d->setNameFilters({QStringLiteral("Play lists (%1)").arg(QLatin1String(kAllLists)),
                           filterText(kOndrixFiles),
                           QStringLiteral("M3U play lists (*.m3u *.m3u8 *.M3U *.M3U8)"),
                           filterText(kPls), filterText(kXspf)});
    } else {
        // the format is the extension typed, else the filter picked
        d->setNameFilters(
            {filterText(kOndrixFiles), filterText(kM3u8), filterText(kXspf), filterText(kPls)});
        QObject::connect(d.get(), &QFileDialog::filterSelected, d.get(),
                         [dialog = d.get()](const QString& filter) {
                             for (const TListFilter& f : {kOndrixFiles, kM3u8, kXspf, kPls})
                                 if (filter == filterText(f))
                                     dialog->setDefaultSuffix(QLatin1String(f.Suffix));
                         });
    }
    d->setDefaultSuffix(QStringLiteral("qdl"));
    d->setSizeGripEnabled(true);
    return d;
}

} // namespace

// A name with a line break would become two entries the next time the list is read.
void TdmData::RefuseLineBreaks(QStringList& files) {
    QStringList refused;
    files.removeIf([&](const QString& f) {
        if (!f.contains(QLatin1Char('\r')) && !f.contains(QLatin1Char('\n')))
            return false;
        QString shown = f;
        shown.replace(QLatin1Char('\r'), QLatin1String("\\r"))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"));
        refused << QLatin1Char('"') + shown + QLatin1Char('"');
        return true;
    });
    if (refused.isEmpty())
        return;
    const Exception error(
        QStringLiteral("A play list cannot hold a file name with a line break: %1")
            .arg(refused.join(QLatin1String(", "))));
    if (files.isEmpty())
        throw error;
    // the other files are taken: report and go on
    TApplication::RunHandler([&] { throw error; });
}

namespace {

std::optional<bool>& trayAvailableOverride() {
    static std::optional<bool> value;
    return value;
}

} // namespace

TdmData::TdmData(QObject* parent) : QObject(parent) {
    dmData = this;

    bHint = new BalloonHint(this);
    bHint->Install();

    pmTray = new QMenu;
    ShowOndrix1 = pmTray->addAction(QStringLiteral("Show Ondrix"));
    connect(ShowOndrix1, &QAction::triggered, this,
            [this] { TApplication::RunHandler([this] { ShowOndrix1Click(); }); });
    Tray = new QSystemTrayIcon(this);
    Tray->setIcon(QApplication::windowIcon()); // the program icon, all five sizes
    Tray->setToolTip(QCoreApplication::applicationName().left(127));
    Tray->setContextMenu(pmTray);
    // A click only ever brings the window back; a double click arrives as a click first, and
    // the second one finds the window already shown.
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            TApplication::RunHandler([this] { TrayClick(); });
    });

    Actions = std::make_unique<UrlActions>();
}

TdmData::~TdmData() {
    // the icon goes before its menu; nothing is left in the notification area
    delete Tray;
    delete pmTray;
    if (dmData == this)
        dmData = nullptr;
}

// Each run gets a fresh dialog that opens where the last one of its kind was left, so no
// selection of an earlier run is taken together with a typed name.
bool TdmData::runDialog(QPointer<QFileDialog>& running, std::unique_ptr<QFileDialog> dialog,
                        QWidget* owner, QStringList& files) {
    QString& folder = lastFolder_[dialog->acceptMode() == QFileDialog::AcceptSave    ? 2
                                  : dialog->fileMode() == QFileDialog::ExistingFiles ? 0
                                  : dialog->fileMode() == QFileDialog::Directory     ? 3
                                                                                     : 1];
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    dialog->setParent(owner, dialog->windowFlags());
    dialog->setWindowModality(Qt::ApplicationModal);
    running = dialog.get();
    const bool ok = dialog->exec() == QDialog::Accepted;
    running = nullptr;
    folder = dialog->directory().absolutePath();
    if (ok)
        files = dialog->selectedFiles();
    return ok;
}

bool TdmData::RunDialog(QWidget* owner, QStringList& files) {
    auto dialog = std::make_unique<QFileDialog>();
    // Qt's own dialog, the same on every desktop and drivable by the tests
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // one filter entry: the music files, and the play lists whose entries are taken
    dialog->setNameFilter(QStringLiteral("All Music Files (%1 %2)")
                              .arg(AudioFormats::NamePatterns(), QLatin1String(kAllLists)));
    // the patterns no longer fit the box: it shows the entry's name
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setSizeGripEnabled(true);
    if (!runDialog(dialog_, std::move(dialog), owner, files))
        return false;
    RefuseLineBreaks(files);
    return true;
}

bool TdmData::TrayAvailable() {
    if (trayAvailableOverride())
        return *trayAvailableOverride();
    // QSystemTrayIcon::isVisible() is true after show() even with no tray host; this is not
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TdmData::CheckTrayAvailable() {
    if (!TrayAvailable())
        throw Exception(QStringLiteral("Cannot create shell notification icon"));
}

void TdmData::SetTrayAvailableOverride(std::optional<bool> available) {
    trayAvailableOverride() = available;
}

void TdmData::ShowTray(QWidget* window) {
    trayWindow_ = window;
    if (!TrayAvailable()) {
        // Hidden with no icon to click, the player could not be reached again. Shown from the
        // event loop, not from inside the hide that got us here.
        if (window)
            QTimer::singleShot(0, window, [window] {
                window->show();
                window->raise();
            });
        CheckTrayAvailable();
    }
    Tray->show();
}

void TdmData::RestoreTrayWindow() {
    // Qt keeps a hidden window's geometry, so it comes back where it was.
    if (trayWindow_) {
        trayWindow_->show();
        trayWindow_->raise();
        trayWindow_->activateWindow();
    }
    Tray->hide();
    if (Tray->isVisible())
        throw Exception(QStringLiteral("Cannot remove shell notification icon"));
}

void TdmData::TrayClick() {
    RestoreTrayWindow();
}

void TdmData::ShowOndrix1Click() {
    RestoreTrayWindow();
}

bool TdmData::RunOpenT(QWidget* owner, QString& file) {
    QStringList files;
    if (!runDialog(openT_, makeListDialog(QFileDialog::AcceptOpen), owner, files) ||
        files.isEmpty())
        return false;
    file = files.first();
    return true;
}

bool TdmData::RunSaveT(QWidget* owner, QString& file) {
    auto dialog = makeListDialog(QFileDialog::AcceptSave);
    dialog->setWindowTitle(QStringLiteral("Ondrix - Ulozenie tracklistu"));
    // the same file name replaces the saved list without asking
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    // no places bar
    dialog->setSidebarUrls({});
    if (auto* sidebar = dialog->findChild<QWidget*>(QStringLiteral("sidebar")))
        sidebar->hide();
    QStringList files;
    if (!runDialog(saveT_, std::move(dialog), owner, files) || files.isEmpty())
        return false;
    file = files.first();
    return true;
}

bool TdmData::RunFolderDialog(QWidget* owner, QString& folder) {
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setWindowTitle(QStringLiteral("Ondrix - Add folder"));
    dialog->setSizeGripEnabled(true);
    QStringList folders;
    if (!runDialog(folderDialog_, std::move(dialog), owner, folders) || folders.isEmpty())
        return false;
    folder = folders.first();
    return true;
}
