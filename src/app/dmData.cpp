#include "app/dmData.h"

#include "app/Application.h"
#include "core/Errors.h"
#include "net/UrlActions.h"
#include "ui/BalloonHint.h"

#include <QAction>
#include <QFileDialog>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

TdmData* dmData = nullptr;

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
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/ondrix-%1.png").arg(size), QSize(size, size));
    Tray->setIcon(icon);
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

QFileDialog* TdmData::Dialog() {
    // made on first use: a file dialog costs start-up time and reads Qt's settings
    if (!dialog_) {
        dialog_ = std::make_unique<QFileDialog>();
        // Qt's own dialog, the same on every desktop and drivable by the tests
        dialog_->setOption(QFileDialog::DontUseNativeDialog);
        dialog_->setFileMode(QFileDialog::ExistingFiles);
        dialog_->setAcceptMode(QFileDialog::AcceptOpen);
        // one filter entry; the capitals because file names here are case-sensitive
        dialog_->setNameFilter(
            QStringLiteral("All Music Files (*.mp3 *.wma *.wav *.MP3 *.WMA *.WAV)"));
        dialog_->setSizeGripEnabled(true);
    }
    return dialog_.get();
}

bool TdmData::RunDialog(QWidget* owner, QStringList& files) {
    QFileDialog* dialog = Dialog();
    dialog->setParent(owner, dialog->windowFlags());
    dialog->setWindowModality(Qt::ApplicationModal);
    const bool ok = dialog->exec() == QDialog::Accepted;
    dialog->setParent(nullptr, dialog->windowFlags());
    if (ok)
        files = dialog->selectedFiles();
    return ok;
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
