#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

class QWidget;
class BalloonHint;
class QAction;
class QMenu;
class QSystemTrayIcon;
class UrlActions;

// The data module: non-visual components shared by the windows, alive for the whole run.
class TdmData : public QObject {
    Q_OBJECT
public:
    explicit TdmData(QObject* parent = nullptr);
    ~TdmData() override;

    // Runs the music dialog; on confirmation returns true and the chosen full paths, in the
    // order the dialog reports them. Names with a line break are refused with an error box and
    // the others taken; raises the error when no name is left.
    bool RunDialog(QWidget* owner, QStringList& files);
    // The dialog's rule for names a play list cannot hold, also for files from outside it.
    static void RefuseLineBreaks(QStringList& files);

    // Run the saved-list dialogs; on confirmation return true and the chosen full path. Open
    // shows our lists and those of other players; Save adds the extension of the filter picked
    // (".qdl" unless another was picked) to a name typed without one.
    bool RunOpenT(QWidget* owner, QString& file);
    bool RunSaveT(QWidget* owner, QString& file);
    // Runs the folder dialog of "Add folder"; on confirmation returns true and the folder.
    bool RunFolderDialog(QWidget* owner, QString& folder);

    // The music and saved-list dialogs while they run, else nullptr.
    QFileDialog* Dialog() const { return dialog_; }
    QFileDialog* OpenT() const { return openT_; }
    QFileDialog* SaveT() const { return saveT_; }
    QFileDialog* FolderDialog() const { return folderDialog_; }
    BalloonHint* bHint = nullptr;

    // The notification-area icon that stands in for the hidden main window, and its menu.
    QSystemTrayIcon* Tray = nullptr;
    QMenu* pmTray = nullptr;
    QAction* ShowOndrix1 = nullptr; // "Show Ondrix"
    // The web actions of the about window.
    std::unique_ptr<UrlActions> Actions;

    // Shows the icon in place of `window`, which a click brings back. Raises "Cannot create
    // shell notification icon" when there is no notification area, and then brings `window`
    // back itself, since nothing else could.
    void ShowTray(QWidget* window);
    void TrayClick();
    void ShowOndrix1Click();

    // Whether a notification area is there to hold the icon; raises "Cannot create shell
    // notification icon" when not.
    static bool TrayAvailable();
    static void CheckTrayAvailable();
    // Tests on the offscreen platform, which has no notification area, pretend one.
    static void SetTrayAvailableOverride(std::optional<bool> available);

private:
    void RestoreTrayWindow();
    QPointer<QWidget> trayWindow_;
    bool runDialog(QPointer<QFileDialog>& running, std::unique_ptr<QFileDialog> dialog,
                   QWidget* owner, QStringList& files);
    QPointer<QFileDialog> dialog_, openT_, saveT_;
    QPointer<QFileDialog> folderDialog_;
    QString lastFolder_[4]; // where the music, open-list, save-list and folder dialogs were left
};

// The one data module of the running program.
extern TdmData* dmData;
