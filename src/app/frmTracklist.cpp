#include "app/frmTracklist.h"

#include "app/AppFiles.h"
#include "app/Application.h"
#include "app/TrackCaption.h"
#include "app/dmData.h"
#include "core/Errors.h"
#include "core/ListFile.h"
#include "tags/ID3v2Library.h"
#include "ui/Accessibility.h"
#include "ui/ClickLabel.h"
#include "ui/Fonts.h"

#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kItemHeight = 13;

// Every line of the list box is exactly the layout's item height.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
    }
};

} // namespace

TfrmTracklist::TfrmTracklist(QWidget* parent) : SkinnedForm(parent, Qt::Dialog) {
    setWindowTitle(QStringLiteral("Ondrix - Playlist"));
    SetClientSize(540, 519);
    LoadSkin(QStringLiteral(":/skins/tracklist.jpg"));
    CreateControls();
    move(400, 210);
    TApplication::RunHandler([this] { FormCreate(); });
}

TfrmTracklist::~TfrmTracklist() {
    TApplication::RunHandler([this] { FormDestroy(); });
}

void TfrmTracklist::CreateControls() {
    setFont(LayoutFont(QStringLiteral("MS Sans Serif"), 11));

    const auto label = [this](const QString& text, const QString& face, int px, QRect geometry) {
        auto* l = new ClickLabel(text, this);
        StyleLabel(l, face, px, true, kNavy);
        l->setGeometry(geometry);
        l->setCursor(Qt::PointingHandCursor);
        return l;
    };
    Label1 = label(QStringLiteral("X"), QStringLiteral("Arial Black"), 16, {512, 0, 12, 23});
    Label2 = label(QStringLiteral("Open"), QStringLiteral("Arial"), 19, {24, 489, 50, 22});
    Label3 = label(QStringLiteral("Add tracks"), QStringLiteral("Arial"), 19, {224, 489, 100, 22});
    Label4 = label(QStringLiteral("Save"), QStringLiteral("Arial"), 19, {456, 489, 46, 22});

    tracklist = new QListWidget(this);
    tracklist->setGeometry(8, 29, 521, 444);
    tracklist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tracklist->setUniformItemSizes(true);
    tracklist->setItemDelegate(new FixedHeightDelegate(tracklist));
    tracklist->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tracklist->setTextElideMode(Qt::ElideNone);
    // the list box's plain single-line border, no bevel
    tracklist->setFrameShape(QFrame::Box);
    tracklist->setFrameShadow(QFrame::Plain);
    tracklist->setLineWidth(1);
    StyleLabel(tracklist, QStringLiteral("MS Sans Serif"), 11, false, kWhite);
    QPalette palette = tracklist->palette();
    palette.setColor(QPalette::Base, kNavy);
    palette.setColor(QPalette::WindowText, QColor(130, 135, 144)); // the border line
    tracklist->setPalette(palette);
    tracklist->installEventFilter(this);

    connect(Label1, &ClickLabel::clicked, this, &TfrmTracklist::Label1Click);
    connect(Label2, &ClickLabel::clicked, this, &TfrmTracklist::Label2Click);
    connect(Label3, &ClickLabel::clicked, this, &TfrmTracklist::Label3Click);
    connect(Label4, &ClickLabel::clicked, this, &TfrmTracklist::Label4Click);

    SetAccessible(tracklist, QStringLiteral("Playlist"));
    SetAccessible(Label2, QStringLiteral("Open"), QAccessible::Button);
    SetAccessible(Label3, QStringLiteral("Add tracks"), QAccessible::Button);
    SetAccessible(Label4, QStringLiteral("Save"), QAccessible::Button);
    SetAccessible(Label1, QStringLiteral("Close"), QAccessible::Button);
    SetTabOrder({tracklist, Label2, Label3, Label4, Label1});
    MarkKeyboardFocus(tracklist);
    tracklist->setFocus();
}

bool TfrmTracklist::eventFilter(QObject* watched, QEvent* event) {
    // One key-up per real release: held keys repeat their releases here, not on Windows.
    if (watched == tracklist && event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat())
            tracklistKeyUp(key->key());
    }
    return SkinnedForm::eventFilter(watched, event);
}

void TfrmTracklist::AppendCaptions(const QStringList& paths) {
    Tag = std::make_unique<TID3v2Tag>();
    // one insertion, so the view lays out once however long the list
    tracklist->addItems(TrackCaptions(Tag, paths));
}

void TfrmTracklist::FormCreate() {
    List.clear();
    if (!QFile::exists(kPatch))
        return;
    AppendCaptions(LoadListFile(kPatch));
}

void TfrmTracklist::FormDestroy() {
    List.clear();
    Tag.reset();
}

void TfrmTracklist::Label1Click() {
    reject();
}

void TfrmTracklist::Label2Click() {
    QString file;
    if (!dmData->RunOpenT(this, file))
        return;
    List.clear();
    // an unreadable list stops here, before "tracklist.dat" is written
    LoadListFile(file, List);
    SaveListFile(kTracklist, List);
    // "patch.dat" stays as it is; the main window takes the opened list after the editor closes
    AppendCaptions(List);
}

void TfrmTracklist::Label3Click() {
    QStringList chosen;
    if (!dmData->RunDialog(this, chosen))
        return;
    List = chosen;
    AppendCaptions(List);
    QStringList entries = LoadListFile(kPatch);
    entries += List;
    SaveListFile(kPatch, entries);
    SaveListFile(kKontrola, {}); // only has to exist: zero bytes
}

void TfrmTracklist::Label4Click() {
    QString file;
    if (!dmData->RunSaveT(this, file))
        return;
    SaveListFile(file, LoadListFile(kPatch));
}

void TfrmTracklist::tracklistKeyUp(int key) {
    if (key != Qt::Key_Delete)
        return;
    QStringList entries = LoadListFile(kPatch);
    // Lines that Open appended have no entry in "patch.dat" and are left alone.
    QList<int> rows;
    const QModelIndexList selected = tracklist->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected)
        if (index.row() < entries.size())
            rows.append(index.row());
    // from the bottom up, so the positions of the rows still to go do not move
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (const int row : rows) {
        delete tracklist->takeItem(row);
        entries.removeAt(row);
    }
    SaveListFile(kPatch, entries);
}
