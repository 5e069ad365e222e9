// Renders the three windows as the program shows them: skins, labels in their layout fonts,
// the standard controls at their layout geometry and the rounded corners, plus a balloon hint.
// Writes main.png, tracklist.png, about.png and hint.png into the folder given.
#include "ui/BalloonHint.h"
#include "ui/ClickLabel.h"
#include "ui/Fonts.h"
#include "ui/JpegImage.h"
#include "ui/SkinnedForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include <cstdio>

namespace {

const QColor Navy(0, 0, 128);

ClickLabel* label(QWidget* parent, const char* text, QRect geometry, const char* face, int px,
                  const QColor& colour = Navy) {
    auto* l = new ClickLabel(QString::fromUtf8(text), parent);
    l->setGeometry(geometry);
    StyleLabel(l, QString::fromLatin1(face), px, true, colour);
    return l;
}

// The form over a dark checker board, with everything outside its mask left out.
QImage shot(SkinnedForm& form) {
    const QImage img = form.grab().toImage();
    QImage out(img.size() + QSize(40, 40), QImage::Format_RGB32);
    QPainter p(&out);
    for (int y = 0; y < out.height(); y += 10)
        for (int x = 0; x < out.width(); x += 10)
            p.fillRect(x, y, 10, 10, ((x + y) / 10) % 2 ? QColor(60, 60, 60) : QColor(90, 90, 90));
    p.translate(20, 20);
    p.setClipRegion(form.mask());
    p.drawImage(0, 0, img);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skinpreview <output folder>\n");
        return 2;
    }
    SetUpFonts();
    QApplication::setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    SkinnedForm main;
    main.SetClientSize(534, 227);
    main.LoadSkin(QStringLiteral(":/skins/main.jpg"));
    label(&main, "X", {512, 0, 12, 23}, "Arial Black", 16);
    label(&main, "+", {8, 0, 11, 23}, "Arial Black", 16);
    label(&main, "?", {25, 0, 12, 22}, "Arial", 19);
    label(&main, "\u2500", {493, 8, 13, 22}, "Arial", 19);
    auto* repeat = new QCheckBox(QStringLiteral("Repeat"), &main);
    repeat->setGeometry(8, 165, 97, 17);
    StyleLabel(repeat, QStringLiteral("MS Sans Serif"), 11, false, Qt::white);
    repeat->setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));
    auto* shuffle = new QCheckBox(QStringLiteral("Shuffle"), &main);
    shuffle->setGeometry(108, 165, 97, 17);
    StyleLabel(shuffle, QStringLiteral("MS Sans Serif"), 11, false, Qt::white);
    shuffle->setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));
    shuffle->setChecked(true);
    auto* speaker = new ClickLabel(&main);
    speaker->setGeometry(440, 155, 24, 27);
    speaker->SetImage(LoadJpeg(QStringLiteral(":/skins/speaker.jpg")));
    auto* volume = new QSlider(Qt::Horizontal, &main);
    volume->setGeometry(470, 155, 64, 27);
    volume->setRange(0, 1000);
    volume->setValue(700);
    label(&main, "OPEN FILE", {5, 188, 101, 22}, "Arial", 19);
    auto* info = new QLabel(QStringLiteral("Artist - A Rather Long Track Title"), &main);
    info->setGeometry(140, 188, 253, 13);
    info->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    StyleLabel(info, QStringLiteral("MS Sans Serif"), 11, false, Qt::white);
    info->setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));
    label(&main, "PLAYLIST", {432, 188, 92, 22}, "Arial", 19);
    auto* progress = new QProgressBar(&main);
    progress->setGeometry(0, 216, 534, 11);
    progress->setTextVisible(false);
    progress->setValue(40);
    main.grab().toImage().save(out.filePath(QStringLiteral("main-nomask.png")));
    shot(main).save(out.filePath(QStringLiteral("main.png")));

    SkinnedForm muted;
    muted.SetClientSize(534, 227);
    muted.LoadSkin(QStringLiteral(":/skins/main.jpg"));
    auto* crossed = new ClickLabel(&muted);
    crossed->setGeometry(440, 155, 24, 27);
    crossed->SetImage(LoadJpeg(QStringLiteral(":/skins/speaker-muted.jpg")));
    muted.grab(QRect(400, 140, 134, 50))
        .toImage()
        .scaled(536, 200)
        .save(out.filePath(QStringLiteral("muted-zoom.png")));
    main.grab(QRect(400, 140, 134, 50))
        .toImage()
        .scaled(536, 200)
        .save(out.filePath(QStringLiteral("speaker-zoom.png")));

    SkinnedForm editor;
    editor.SetClientSize(540, 519);
    editor.LoadSkin(QStringLiteral(":/skins/tracklist.jpg"));
    label(&editor, "X", {512, 0, 12, 23}, "Arial Black", 16);
    auto* list = new QListWidget(&editor);
    list->setGeometry(8, 29, 521, 444);
    list->setFrameShape(QFrame::Box);
    list->setLineWidth(1);
    QPalette lp = list->palette();
    lp.setColor(QPalette::Base, Navy);
    lp.setColor(QPalette::Text, Qt::white);
    list->setPalette(lp);
    list->setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));
    for (int i = 1; i <= 12; ++i)
        list->addItem(QStringLiteral("Artist %1 - Track number %1").arg(i));
    list->setCurrentRow(2);
    label(&editor, "Open", {24, 489, 50, 22}, "Arial", 19);
    label(&editor, "Add folder", {100, 489, 98, 22}, "Arial", 19);
    label(&editor, "Add tracks", {224, 489, 100, 22}, "Arial", 19);
    label(&editor, "Save", {456, 489, 46, 22}, "Arial", 19);
    shot(editor).save(out.filePath(QStringLiteral("tracklist.png")));

    SkinnedForm about;
    about.SetClientSize(266, 426);
    about.setFont(LayoutFont(QStringLiteral("Tahoma"), 11));
    about.LoadSkin(QStringLiteral(":/skins/about.jpg"));
    label(&about, "X", {246, -3, 12, 23}, "Arial Black", 16);
    label(&about, "Ondrix ", {8, 32, 168, 42}, "Arial Narrow", 35, Qt::white);
    label(&about, "Version 3.0", {8, 80, 70, 20}, "Arial Narrow", 16, Qt::white);
    auto* logo = new QLabel(&about);
    logo->setGeometry(182, 26, 79, 74);
    logo->setScaledContents(true);
    logo->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/skins/logo.jpg"))));
    label(&about, "The Ondrix 3 authors", {8, 170, 171, 16}, "Arial Narrow", 13, Qt::white);
    label(&about, "ondrix.example", {8, 192, 135, 16}, "Arial Narrow", 13, Qt::white);
    label(&about, "info@ondrix.example", {8, 214, 110, 16}, "Arial Narrow", 13, Qt::white);
    label(&about, "(c) 2010 Ondrix 3", {8, 236, 96, 16}, "Arial Narrow", 13, Qt::white);
    label(&about, "Version information:", {8, 272, 108, 16}, "Arial Narrow", 13, Qt::white);
    auto* memo = new QPlainTextEdit(&about);
    memo->setGeometry(10, 296, 248, 89);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette mp = memo->palette();
    mp.setColor(QPalette::Base, QColor(0, 0, 255));
    mp.setColor(QPalette::Text, Qt::white);
    memo->setPalette(mp);
    memo->setFont(LayoutFont(QStringLiteral("Times New Roman"), 11));
    memo->setPlainText(QStringLiteral("Ondrix 3.0 is the newest version.\nNothing to update."));
    auto* contact = new QPushButton(QStringLiteral("Contact us"), &about);
    contact->setGeometry(8, 397, 113, 25);
    auto* check = new QPushButton(QStringLiteral("Check for new version"), &about);
    check->setGeometry(133, 397, 127, 25);
    shot(about).save(out.filePath(QStringLiteral("about.png")));

    BalloonTip tip;
    tip.ShowAt(QStringLiteral("Show About form"), QPoint(100, 100));
    QImage bubble(tip.size() + QSize(20, 20), QImage::Format_RGB32);
    bubble.fill(QColor(40, 90, 200));
    QPainter bp(&bubble);
    bp.drawImage(10, 10, tip.grab().toImage());
    bp.end();
    bubble.scaled(bubble.size() * 3).save(out.filePath(QStringLiteral("hint.png")));

    for (int size : {16, 24, 32, 48, 256}) {
        QImage icon(QStringLiteral(":/icons/ondrix-%1.png").arg(size));
        QImage onGrey(256, 256, QImage::Format_RGB32);
        onGrey.fill(QColor(230, 230, 230));
        QPainter ip(&onGrey);
        ip.drawImage(QRect(0, 0, 256, 256), icon);
        ip.end();
        onGrey.save(out.filePath(QStringLiteral("icon-%1.png").arg(size)));
    }
    // On a real display (Xvfb) the window manager applies the mask: grab the screen around the
    // window to see the corners and a balloon over the close label.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        BalloonHint hints;
        hints.Install();
        main.move(40, 40);
        main.show();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        auto* close = main.findChild<ClickLabel*>();
        close->setToolTip(QStringLiteral("Close"));
        hints.ShowHint(close, close->toolTip());
        wait.restart();
        while (wait.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, 20, 20, 600, 300)
            .save(out.filePath(QStringLiteral("screen-main.png")));
    }
    std::printf("previews written to %s\n", argv[1]);
    return 0;
}
