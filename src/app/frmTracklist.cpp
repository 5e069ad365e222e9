#include "app/frmTracklist.h"

#include "app/AppFiles.h"
#include "app/Application.h"
#include "app/ListInput.h"
#include "app/TrackCaption.h"
#include "app/dmData.h"
#include "core/Errors.h"
#include "core/ListFile.h"
#include "core/PlayListFormats.h"
#include "tags/ID3v2Library.h"
#include "ui/Accessibility.h"
#include "ui/ClickLabel.h"
#include "ui/DropMark.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QStyledItemDelegate>

#include <algorithm>
#include <functional>

namespace {

constexpr int kItemHeight = 13;

// What each line holds beside its caption: the index of its entry in the main window's list
// (kAdded for a track added here, kOpened for a line shown only because of Open), and the path
// of its entry in "patch.dat".
constexpr int kOriginRole = Qt::UserRole;
constexpr int kPathRole = Qt::UserRole + 1;
// set on the line of the entry the main window has loaded
constexpr int kMarkRole = Qt::UserRole + 2;
constexpr int32_t kAdded = -1;
constexpr int32_t kOpened = -2;

// The marked line: the entry the main window has loaded.
const QColor kMarkColour(255, 214, 90);

// Every line of the list box is exactly the layout's item height; the marked line is bold and
// gold, also while it is selected.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(kMarkRole).toBool())
            return;
        option->font.setBold(true);
        option->palette.setColor(QPalette::Text, kMarkColour);
        option->palette.setColor(QPalette::HighlightedText, kMarkColour);
    }
};

bool Persisted(const QListWidgetItem* item) {
    return item->data(kOriginRole).toInt() != kOpened;
}

// The list box: lines are moved by dragging them within it (a drag from elsewhere goes on to
// the window, which adds what it brings), and typing jumps to the first line that contains what
// was typed, wherever in the line.
class TTrackListBox : public QListWidget {
public:
    using QListWidget::QListWidget;

    // the selected rows, to be put before row `to`
    std::function<void(QList<int> rows, int to)> OnMove;

    void keyboardSearch(const QString& text) override {
        if (text.isEmpty())
            return;
        // keys typed in quick succession make one search, as the view's own search does
        if (typed_.isValid() && typed_.elapsed() < QApplication::keyboardInputInterval())
            search_ += text;
        else
            search_ = text;
        typed_.restart();
        for (int row = 0; row < count(); ++row) {
            if (item(row)->text().contains(search_, Qt::CaseInsensitive)) {
                setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
                scrollToItem(item(row));
                return;
            }
        }
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragMoveEvent(event);
        event->setDropAction(Qt::MoveAction);
        event->accept();
    }
    void dropEvent(QDropEvent* event) override {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        // over the lower half of a line the lines go after it
        const QPoint at = event->position().toPoint();
        const QModelIndex under = indexAt(at);
        const int to = under.isValid()
                           ? under.row() + (at.y() > visualRect(under).center().y() ? 1 : 0)
                           : count();
        QList<int> rows;
        for (const QModelIndex& index : selectionModel()->selectedRows())
            rows << index.row();
        // moved here: the drag must not take the lines away as well
        event->setDropAction(Qt::CopyAction);
        event->accept();
        stopAutoScroll();
        setState(NoState);
        if (OnMove)
            OnMove(rows, to);
    }

private:
    QString search_;
    QElapsedTimer typed_;
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
    Label5 = label(QStringLiteral("Add folder"), QStringLiteral("Arial"), 19, {100, 489, 98, 22});
    Label3 = label(QStringLiteral("Add tracks"), QStringLiteral("Arial"), 19, {224, 489, 100, 22});
    Label4 = label(QStringLiteral("Save"), QStringLiteral("Arial"), 19, {456, 489, 46, 22});

    auto* box = new TTrackListBox(this);
    tracklist = box;
    tracklist->setGeometry(8, 29, 521, 444);
    tracklist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tracklist->setUniformItemSizes(true);
    tracklist->setItemDelegate(new FixedHeightDelegate(tracklist));
    tracklist->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tracklist->setTextElideMode(Qt::ElideNone);
    // Lines are moved by dragging them. The box moves them itself and answers the drag with a
    // copy: an answered move would have the view take the dragged lines away afterwards, and
    // with InternalMove a move is all it may answer.
    tracklist->setDragDropMode(QAbstractItemView::DragDrop);
    tracklist->setDefaultDropAction(Qt::MoveAction);
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
    box->OnMove = [this](QList<int> rows, int to) {
        TApplication::RunHandler([&] { MoveRows(rows, to); });
    };

    connect(Label1, &ClickLabel::clicked, this, &TfrmTracklist::Label1Click);
    connect(Label2, &ClickLabel::clicked, this, &TfrmTracklist::Label2Click);
    connect(Label3, &ClickLabel::clicked, this, &TfrmTracklist::Label3Click);
    connect(Label4, &ClickLabel::clicked, this, &TfrmTracklist::Label4Click);
    connect(Label5, &ClickLabel::clicked, this, &TfrmTracklist::Label5Click);
    connect(tracklist, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { tracklistActivate(index.row()); });

    SetAccessible(tracklist, QStringLiteral("Playlist"), QAccessible::NoRole,
                  QStringLiteral("Return or a double click plays a line; Alt+Up and Alt+Down "
                                 "move the selected lines; typing finds a line"));
    SetAccessible(Label2, QStringLiteral("Open"), QAccessible::Button);
    SetAccessible(Label5, QStringLiteral("Add folder"), QAccessible::Button);
    SetAccessible(Label3, QStringLiteral("Add tracks"), QAccessible::Button);
    SetAccessible(Label4, QStringLiteral("Save"), QAccessible::Button);
    SetAccessible(Label1, QStringLiteral("Close"), QAccessible::Button);
    SetTabOrder({tracklist, Label2, Label5, Label3, Label4, Label1});
    MarkKeyboardFocus(tracklist);
    tracklist->setFocus();

    // files, folders and play lists dragged from a file manager
    setAcceptDrops(true);
    dropMark_ = new DropMark(this);
}

bool TfrmTracklist::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tracklist && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat() &&
            key->modifiers() == Qt::NoModifier) {
            tracklistActivate(tracklist->currentRow());
            return true;
        }
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
            (key->modifiers() & Qt::AltModifier)) {
            TApplication::RunHandler([&] { tracklistMove(key->key() == Qt::Key_Up ? -1 : 1); });
            return true;
        }
    }
    // One key-up per real release: held keys repeat their releases here, not on Windows.
    if (watched == tracklist && event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat())
            tracklistKeyUp(key->key());
    }
    return SkinnedForm::eventFilter(watched, event);
}

void TfrmTracklist::AppendCaptions(const QStringList& paths, int32_t kind) {
    Tag = std::make_unique<TID3v2Tag>();
    const int first = tracklist->count();
    // one insertion, so the view lays out once however long the list
    tracklist->addItems(TrackCaptions(Tag, paths));
    // what the view does not show, set without telling it line by line
    QAbstractItemModel* model = tracklist->model();
    const bool blocked = model->blockSignals(true);
    for (int i = 0; i < paths.size(); ++i) {
        QListWidgetItem* item = tracklist->item(first + i);
        item->setData(kOriginRole, kind == kOpened ? kOpened : kind == kAdded ? kAdded : i);
        if (kind != kOpened)
            item->setData(kPathRole, paths[i]);
    }
    model->blockSignals(blocked);
}

void TfrmTracklist::FormCreate() {
    List.clear();
    if (!QFile::exists(kPatch))
        return;
    // the lines of "patch.dat" are the main window's entries in the same order
    AppendCaptions(LoadListFile(kPatch), 0);
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
    // an unreadable list stops here, before "tracklist.dat" is written; the lists of other
    // players are read as the entries they name
    const TPlayListEntries opened = LoadPlayList(file);
    List = opened.Entries;
    SaveListFile(kTracklist, List);
    // "patch.dat" stays as it is; the main window takes the opened list after the editor closes
    AppendCaptions(List, kOpened);
    if (opened.WebAddresses > 0)
        throw Exception(WebAddressesLeftOut(opened.WebAddresses, file));
}

void TfrmTracklist::Label3Click() {
    QStringList chosen;
    if (!dmData->RunDialog(this, chosen))
        return;
    if (std::any_of(chosen.begin(), chosen.end(), [](const QString& f) {
            return PlayListFormatOf(f) != EPlayListFormat::None;
        })) {
        // the play lists chosen are read as the entries they name; the music files as chosen
        const TListInput input = ReadListInput(this, chosen, false);
        if (input.Cancelled)
            return;
        chosen = TakeListInput(input, this);
    }
    AddTracks(chosen);
}

void TfrmTracklist::Label5Click() {
    QString folder;
    if (!dmData->RunFolderDialog(this, folder))
        return;
    AddItems({folder});
}

void TfrmTracklist::AddItems(const QStringList& items) {
    AddInput(ReadListInput(this, items, true));
}

void TfrmTracklist::AddInput(const TListInput& input) {
    if (input.Cancelled)
        return; // nothing added
    if (input.Entries.isEmpty() && input.Refused.isEmpty())
        return;
    AddTracks(TakeListInput(input, this));
}

void TfrmTracklist::AddTracks(const QStringList& paths) {
    List = paths;
    AppendCaptions(List, kAdded);
    QStringList entries = LoadListFile(kPatch);
    entries += List;
    SaveListFile(kPatch, entries);
    SaveListFile(kKontrola, {}); // only has to exist: zero bytes
}

void TfrmTracklist::Label4Click() {
    QString file;
    if (!dmData->RunSaveT(this, file))
        return;
    // in the format the name's extension asks for: ours, M3U8, PLS or XSPF
    SavePlayList(file, LoadListFile(kPatch));
}

void TfrmTracklist::tracklistKeyUp(int key) {
    if (key != Qt::Key_Delete)
        return;
    QStringList entries = LoadListFile(kPatch);
    // Lines that Open appended have no entry in "patch.dat" and are left alone; every other line
    // is the entry of its place among them.
    QList<std::pair<int, int>> doomed; // row, entry
    int entry = 0;
    for (int row = 0; row < tracklist->count(); ++row) {
        QListWidgetItem* item = tracklist->item(row);
        if (!Persisted(item))
            continue;
        if (item->isSelected() && entry < entries.size())
            doomed.append({row, entry});
        ++entry;
    }
    // from the bottom up, so the positions of the rows still to go do not move
    std::reverse(doomed.begin(), doomed.end());
    for (const auto& [row, index] : doomed) {
        QListWidgetItem* item = tracklist->takeItem(row);
        if (item == marked_)
            marked_ = nullptr;
        delete item;
        entries.removeAt(index);
    }
    SaveListFile(kPatch, entries);
}

int32_t TfrmTracklist::EntryOfRow(int row) const {
    if (row < 0 || row >= tracklist->count() || !Persisted(tracklist->item(row)))
        return -1;
    int32_t entry = 0;
    for (int r = 0; r < row; ++r)
        entry += Persisted(tracklist->item(r));
    return entry;
}

void TfrmTracklist::tracklistActivate(int row) {
    // a line shown only because of Open is no entry of the list that plays
    const int32_t entry = EntryOfRow(row);
    if (entry >= 0)
        emit PlayLineRequested(entry);
}

void TfrmTracklist::SetPlayingEntry(int32_t index) {
    if (index == playingEntry_ && (marked_ != nullptr || index < 0))
        return;
    playingEntry_ = index;
    QListWidgetItem* found = nullptr;
    for (int row = 0; row < tracklist->count() && index >= 0; ++row) {
        QListWidgetItem* item = tracklist->item(row);
        if (Persisted(item) && item->data(kOriginRole).toInt() == index) {
            found = item;
            break;
        }
    }
    if (found == marked_)
        return;
    if (marked_ != nullptr)
        ShowMark(marked_, false);
    marked_ = found;
    if (marked_ != nullptr)
        ShowMark(marked_, true);
}

void TfrmTracklist::ShowMark(QListWidgetItem* item, bool marked) {
    item->setData(kMarkRole, marked);
}

std::vector<int32_t> TfrmTracklist::EntryRows(int32_t count) const {
    std::vector<int32_t> rows(size_t(std::max(count, 0)), -1);
    int32_t entry = 0;
    for (int row = 0; row < tracklist->count(); ++row) {
        const QListWidgetItem* item = tracklist->item(row);
        if (!Persisted(item))
            continue;
        const int origin = item->data(kOriginRole).toInt();
        if (origin >= 0 && origin < count)
            rows[size_t(origin)] = entry;
        ++entry;
    }
    return rows;
}

void TfrmTracklist::ListTaken() {
    QAbstractItemModel* model = tracklist->model();
    const bool blocked = model->blockSignals(true);
    int32_t entry = 0;
    for (int row = 0; row < tracklist->count(); ++row) {
        QListWidgetItem* item = tracklist->item(row);
        if (Persisted(item))
            item->setData(kOriginRole, entry++);
    }
    model->blockSignals(blocked);
    playingEntry_ = -2; // to be marked anew
}

void TfrmTracklist::SaveOrder() {
    QStringList entries;
    for (int row = 0; row < tracklist->count(); ++row)
        if (const QListWidgetItem* item = tracklist->item(row); Persisted(item))
            entries << item->data(kPathRole).toString();
    SaveListFile(kPatch, entries);
}

void TfrmTracklist::MoveRows(QList<int> rows, int to) {
    // Lines move among the persisted list's lines, which come first unless Open and Add tracks
    // were both used (then nothing moves: the opened list replaces that list anyway).
    int persisted = 0;
    while (persisted < tracklist->count() && Persisted(tracklist->item(persisted)))
        ++persisted;
    for (int row = persisted; row < tracklist->count(); ++row)
        if (Persisted(tracklist->item(row)))
            return;
    rows.removeIf([persisted](int row) { return row >= persisted; });
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    to = std::clamp(to, 0, persisted);
    QList<QListWidgetItem*> taken;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < to)
            --to;
        taken.prepend(tracklist->takeItem(*it));
    }
    for (int i = 0; i < taken.size(); ++i)
        tracklist->insertItem(to + i, taken[i]);
    tracklist->clearSelection();
    for (QListWidgetItem* item : taken)
        item->setSelected(true);
    tracklist->setCurrentItem(taken.front(), QItemSelectionModel::NoUpdate);
    SaveOrder();
}

void TfrmTracklist::tracklistMove(int step) {
    QList<int> rows;
    for (const QModelIndex& index : tracklist->selectionModel()->selectedRows())
        if (Persisted(tracklist->item(index.row())))
            rows << index.row();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    // as a block, one line up or down; nothing moves past the first or the last line
    int persisted = 0;
    while (persisted < tracklist->count() && Persisted(tracklist->item(persisted)))
        ++persisted;
    if (step < 0 && rows.front() == 0)
        return;
    if (step > 0 && rows.back() >= persisted - 1)
        return;
    MoveRows(rows, step < 0 ? rows.front() - 1 : rows.back() + 2);
}

void TfrmTracklist::dragEnterEvent(QDragEnterEvent* event) {
    if (event->source() != nullptr || !OffersFiles(*event->mimeData()) || ListInputReading()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropMark_->SetShown(true);
}

void TfrmTracklist::dragLeaveEvent(QDragLeaveEvent* event) {
    dropMark_->SetShown(false);
    SkinnedForm::dragLeaveEvent(event);
}

void TfrmTracklist::dropEvent(QDropEvent* event) {
    dropMark_->SetShown(false);
    const QByteArray uris = DroppedUris(*event->mimeData());
    event->acceptProposedAction();
    // read after the drop has been answered: the file manager waits for that answer
    QMetaObject::invokeMethod(
        this,
        [this, uris] {
            TApplication::RunHandler([&] {
                const TListInput input = ReadDroppedUris(this, uris);
                AddInput(input);
            });
        },
        Qt::QueuedConnection);
}
