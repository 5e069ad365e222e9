#include "app/frmMenu.h"

#include "app/AppFiles.h"
#include "app/Application.h"
#include "app/dmData.h"
#include "core/ListFile.h"
#include "net/RunningDownload.h"
#include "net/UrlActions.h"
#include "ui/Accessibility.h"
#include "ui/ClickLabel.h"
#include "ui/Fonts.h"
#include "ui/JpegImage.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {

// The server's host name: the home page as the label shows it, and the contact address's
// domain. The placeholder server gives "ondrix.example".
QString ServerHost() {
    const QString host = QUrl(dmData->Actions->Server()).host();
    return host.isEmpty() ? QStringLiteral("ondrix.example") : host;
}

// The version information is small and the about window is not up yet: a busy cursor while
// the user's input is held.
void WaitWithBusyCursor(RunningDownload& running) {
    struct BusyCursor {
        BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    } busy;
    running.WaitHoldingInput();
}

// The updater may take minutes: a small modal window shows how far it got and lets the user
// give up. Returns when the transfer ends or Cancel is pressed.
void WaitInDownloadDialog(QWidget* owner, RunningDownload& running) {
    QProgressDialog dialog(QStringLiteral("Downloading\u2026"), QStringLiteral("Cancel"), 0, 0,
                           owner);
    dialog.setWindowTitle(QCoreApplication::applicationName());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(0);
    QObject::connect(&dialog, &QProgressDialog::canceled, &running, &RunningDownload::Cancel);
    QObject::connect(&running, &RunningDownload::finished, &dialog, &QDialog::accept);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &dialog, [&] {
        // in KiB, so that files past 2 GiB still fit the bar's int
        if (running.Total() > 0) {
            dialog.setMaximum(int(running.Total() / 1024));
            dialog.setValue(int(running.Received() / 1024));
        }
    });
    progress.start(200);
    if (!running.Finished())
        dialog.exec();
}

} // namespace

TfrmMenu::TfrmMenu(QWidget* parent) : SkinnedForm(parent, Qt::Dialog) {
    setWindowTitle(QStringLiteral("frmMenu"));
    setWindowModality(Qt::ApplicationModal);
    SetClientSize(266, 426);
    LoadSkin(QStringLiteral(":/skins/about.jpg"));
    CreateControls();
    CenterOnScreen();
    TApplication::RunHandler([this] { FormCreate(); });
}

void TfrmMenu::CreateControls() {
    setFont(LayoutFont(QStringLiteral("Tahoma"), 11));

    const auto label = [this](QLabel* l, const QString& face, int px, const QColor& colour,
                              QRect geometry) {
        StyleLabel(l, face, px, true, colour);
        l->setGeometry(geometry);
        return l;
    };
    const QString narrow = QStringLiteral("Arial Narrow");

    Label1 = new ClickLabel(QStringLiteral("X"), this);
    label(Label1, QStringLiteral("Arial Black"), 16, kNavy, {246, -3, 12, 23});
    Label1->setCursor(Qt::PointingHandCursor);
    connect(Label1, &ClickLabel::clicked, this, &TfrmMenu::Label1Click);

    Label2 =
        label(new QLabel(QStringLiteral("Ondrix "), this), narrow, 35, kWhite, {8, 32, 168, 42});
    Label3 =
        label(new QLabel(QStringLiteral("Version 3.0"), this), narrow, 16, kWhite, {8, 80, 70, 20});

    Image2 = new QLabel(this);
    Image2->setGeometry(182, 26, 79, 74);
    Image2->setScaledContents(true);
    Image2->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/skins/logo.jpg"))));

    const QString host = ServerHost();
    Label5 = label(new QLabel(QStringLiteral("The Ondrix 3 authors"), this), narrow, 13, kWhite,
                   {8, 170, 171, 16});
    Label6 = new ClickLabel(host, this);
    label(Label6, narrow, 13, kWhite, {8, 192, 135, 16});
    Label6->setCursor(Qt::PointingHandCursor);
    Label6->setToolTip(dmData->Actions->Home.Hint());
    connect(Label6, &ClickLabel::clicked, this, &TfrmMenu::Label6Click);
    Label8 = label(new QLabel(QStringLiteral("info@") + host, this), narrow, 13, kWhite,
                   {8, 214, 110, 16});
    Label4 = label(new QLabel(QStringLiteral("(c) 2010 Ondrix 3"), this), narrow, 13, kWhite,
                   {8, 236, 96, 16});
    Label7 = label(new QLabel(QStringLiteral("Version information:"), this), narrow, 13, kWhite,
                   {8, 272, 108, 16});

    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(10, 296, 248, 89);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setFont(LayoutFont(QStringLiteral("Times New Roman"), 11));
    QPalette memo = Memo1->palette();
    memo.setColor(QPalette::Base, kBlue);
    memo.setColor(QPalette::Text, kWhite);
    Memo1->setPalette(memo);

    Button2 = new QPushButton(dmData->Actions->Contact.Caption(), this);
    Button2->setGeometry(8, 397, 113, 25);
    Button2->setToolTip(dmData->Actions->Contact.Hint());
    connect(Button2, &QPushButton::clicked, this, &TfrmMenu::Button2Click);
    Button1 = new QPushButton(QStringLiteral("Check for new version"), this);
    Button1->setGeometry(133, 397, 127, 25);
    connect(Button1, &QPushButton::clicked, this, &TfrmMenu::Button1Click);
    // Enter must not start an update by surprise
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    // the window's caption is only its layout's name
    SetAccessible(this, QStringLiteral("About Ondrix 3"));
    SetAccessible(Image2, QStringLiteral("Ondrix 3 logo"), QAccessible::Graphic);
    SetAccessible(Label6, host, QAccessible::Link, QStringLiteral("Home page"));
    SetAccessible(Memo1, QStringLiteral("Version information"));
    SetAccessible(Label1, QStringLiteral("Close"), QAccessible::Button);
    Memo1->setTabChangesFocus(true);
    SetTabOrder({Memo1, Label6, Button2, Button1, Label1});
    Memo1->setFocus();
}

void TfrmMenu::FormCreate() {
    // not finished only when the program is quitting meanwhile
    if (!dmData->Actions->dInfo.Execute(WaitWithBusyCursor))
        return;
    Memo1->setPlainText(LoadListFile(dmData->Actions->dInfo.FileName()).join(QLatin1Char('\n')));
}

void TfrmMenu::Label1Click() {
    close();
}

void TfrmMenu::Label6Click() {
    dmData->Actions->Home.Execute();
}

void TfrmMenu::Button2Click() {
    dmData->Actions->Contact.Execute();
}

void TfrmMenu::Button1Click() {
    // A failed download raises here and the player keeps running; a cancelled one (or one the
    // program quit during) just ends.
    if (!dmData->Actions->aUpdate.Execute(
            [this](RunningDownload& running) { WaitInDownloadDialog(this, running); }))
        return;
    dmData->Actions->StartUpdater();
    // The player quits whether or not an updater was there to start.
    QCoreApplication::quit();
}
