#include "app/window/form1.h"
#include "cache/scan/commands.h"
#include "cache/scan/file_types.h"
#include "cache/scan/list_columns.h"

#include "app/core/settings_store.h"
#include "app/core/shell_utils.h"
#include "app/guard/guard.h"
#include "platform/base/collation.h"
#include "platform/base/messages.h"
#include "platform/qt/cursor_file.h"
#include "preview/window/form2.h"
#include "preview/window/window_frame_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QUrl>
#include <utility>

namespace app {
namespace {

constexpr const char* kLoadTag = "in Orrery2021/08/31.Form1.Form_Load ";

std::string setting(const char* key, const std::string& defaultValue) {
    return ReadSetting(kSettingsApplication, kSettingsSection, key, defaultValue);
}

} // namespace

Form1::Form1(QString programFolder, QString dataFolder, QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder)),
      dataFolder_(std::move(dataFolder)) {
    setObjectName("Form1");
    scale_ = logicalDpiX() / 96.0;
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(px(8040), px(6330));
    // The window's white background.
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);
    QFont font("Arial");
    font.setPointSizeF(9);
    font.setBold(true);
    setFont(font);

    // Sorted as a Windows list sorts: by the user's locale, ignoring case.
    list_.setSortKeyFunction(platform::CollationKey);
    model_ = new FoundFileModel(list_, this);
    buildControls();
    setAcceptDrops(true);
}

Form1::~Form1() {
    if (form2_)
        delete form2_.data();
    // The view and its model read the list: both go before the list does.
    delete ListView1;
    delete model_;
}

int Form1::px(int twips) const {
    return qRound(twips / 15.0 * scale_);
}

// A control's place in the window or its frame, in twips as designed.
void Form1::place(QWidget* w, int left, int top, int width, int height) const {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QPushButton* Form1::makeButton(QWidget* parent, const char* name, const char* caption) {
    QFont buttonFont = font();
    buttonFont.setPointSizeF(11.25);
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setFont(buttonFont);
    b->setMouseTracking(true);
    b->installEventFilter(this);
    return b;
}

void Form1::buildControls() {
    Frame2 = new QGroupBox("Filetypes To Retrieve", this);
    Frame2->setObjectName("Frame2");
    place(Frame2, 120, 120, 7800, 765);
    buildFileTypeBoxes();

    PushButton1 = makeButton(this, "PushButton1", "Start Retrieving Cached Files");
    place(PushButton1, 120, 1020, 7800, 405);

    buildList();

    PushButton5 = makeButton(this, "PushButton5", "Select All Items");
    place(PushButton5, 120, 3870, 3840, 405);
    PushButton6 = makeButton(this, "PushButton6", "Deselect All Items");
    place(PushButton6, 4080, 3870, 3840, 405);

    Frame1 = new QGroupBox("Save Selected File(s) To This Folder", this);
    Frame1->setObjectName("Frame1");
    place(Frame1, 120, 4330, 7800, 820);
    Text3 = new QLineEdit(Frame1);
    Text3->setObjectName("Text3");
    place(Text3, 240, 300, 6705, 345);
    PushButton8 = makeButton(Frame1, "PushButton8", "...");
    place(PushButton8, 7080, 300, 495, 345);

    PushButton3 = makeButton(this, "PushButton3", "Start Saving Files");
    place(PushButton3, 120, 5280, 7800, 405);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    place(ProgressBar1, 120, 5800, 7800, 405);

    keepMouseMovesInTheirControls();
    setDesignedTabOrder();
    connectControls();
}

// The file-type boxes, in one row of Frame2, in the table's order.
void Form1::buildFileTypeBoxes() {
    for (const cache::FileTypeInfo& type : cache::kFileTypes) {
        auto* c = new QCheckBox(type.box.caption, Frame2);
        c->setObjectName(type.box.control);
        // A designed check-box row is lower than the style's indicator and the bold
        // caption: the box keeps its designed left, width and row, and grows evenly above
        // and below it.
        const int designed = px(195);
        const int needed = std::max(designed, c->sizeHint().height());
        c->setGeometry(px(type.box.left), px(360) + designed / 2 - needed / 2, px(type.box.width),
                       needed);
        fileTypeBoxes_[static_cast<std::size_t>(type.type)] = c;
    }
    // The designed names, for those who ask for a box by name.
    Check2 = box(cache::FileType::JPG);
    Check4 = box(cache::FileType::BMP);
    Check7 = box(cache::FileType::GIF);
    Check9 = box(cache::FileType::PNG);
    Check10 = box(cache::FileType::ICO);
    Check11 = box(cache::FileType::Videos);
    Check12 = box(cache::FileType::WEBP);
}

void Form1::buildList() {
    ListView1 = new QTreeView(this);
    ListView1->setObjectName("ListView1");
    ListView1->setModel(model_);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setItemsExpandable(false);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSortingEnabled(false);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setMinimumSectionSize(1);
    place(ListView1, 120, 1550, 7800, 2235);
    // The arrow belongs to the whole list: its rows, its header, its scroll bars and its
    // frame, so every part of it watches the moves over it. Its viewport also sees the
    // clicks on its empty part, which the view's own click signal leaves out.
    listViewport_ = ListView1->viewport();
    QList<QWidget*> listParts = ListView1->findChildren<QWidget*>();
    listParts.prepend(ListView1);
    for (QWidget* w : listParts) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

// A move over a control belongs to that control alone: it must not reach the frame or the
// window behind it, whose own moves set the arrow.
void Form1::keepMouseMovesInTheirControls() {
    QList<QWidget*> ownMoves = {PushButton1, PushButton3, PushButton5,  PushButton6,
                                PushButton8, Text3,       ProgressBar1, ListView1};
    for (QCheckBox* c : fileTypeBoxes_)
        ownMoves.append(c);
    for (QWidget* w : ownMoves)
        w->setAttribute(Qt::WA_NoMousePropagation);
    for (QWidget* w : std::initializer_list<QWidget*>{this, Frame1, Frame2}) {
        w->setMouseTracking(true);
        if (w != this)
            w->installEventFilter(this);
    }
}

// Keyboard order as designed: the file-type boxes last, from right to left.
void Form1::setDesignedTabOrder() {
    QList<QWidget*> tabOrder = {ListView1,   PushButton1, PushButton5, PushButton6,
                                PushButton3, Text3,       PushButton8};
    for (std::size_t i = fileTypeBoxes_.size(); i-- > 0;)
        tabOrder.append(fileTypeBoxes_[i]);
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // The list holds the first place: the window opens with the keyboard focus there.
    ListView1->setFocus(Qt::OtherFocusReason);
}

void Form1::connectControls() {
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form1::PushButton8_Click);
    connect(ListView1, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid() && static_cast<std::size_t>(index.row()) < list_.count())
            list_.select(list_.rowAt(static_cast<std::size_t>(index.row()) + 1));
        ListView1_Click();
    });
    connect(model_, &FoundFileModel::columnsPrepared, this, &Form1::applyColumnWidths);
    connect(model_, &FoundFileModel::scrollToRow, this,
            [this](const QModelIndex& index) { ListView1->scrollTo(index); });

    for (const cache::FileTypeInfo& type : cache::kFileTypes)
        connect(box(type.type), &QCheckBox::toggled, this,
                [this, b = box(type.type), k = type.settingsKey] { checkBoxChanged(b, k); });
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
}

void Form1::applyColumnWidths() {
    const auto& widths = list_.columnWidths();
    for (std::size_t i = 0; i < widths.size(); ++i)
        ListView1->header()->resizeSection(static_cast<int>(i), std::max(px(widths[i]), 1));
}

void Form1::Form_Load() {
    Guard g(kLoadTag);
    g.step(102, [&] { ApplySkin(this, SkinFramework1, programFolder_); });
    // Beside the program first (a build tree, a copied program folder), then the installed
    // data folder, which keeps everything but programs out of the program folder.
    std::string handPath = (programFolder_ + "/HAND-M.CUR").toStdString();
    if (!dataFolder_.isEmpty() && !FileIsPresent(handPath))
        handPath = (dataFolder_ + "/HAND-M.CUR").toStdString();
    if (g.test(104, [&] { return FileIsPresent(handPath); }))
        g.step(106,
               [&] { handCursor_ = platform::LoadCursorFile(QString::fromStdString(handPath)); });
    g.step(126, [&] { setWindowTitle(kProductName); });
    g.step(126, [&] {
        icon_ = QIcon(":/icons/tamberlin.png");
        for (int size : {16, 32, 48, 64, 128, 256})
            icon_.addFile(QString(":/icons/tamberlin-%1.png").arg(size));
        setWindowIcon(icon_);
    });
    g.step(126, [&] { SetApplicationTitle(); });
    g.step(128, [&] {
        const std::string desktop = GetDesktopFolder();
        Text3->setText(QString::fromStdString(setting(kKeyDownloadLocation, desktop)));
    });
    // The columns at lines 130 to 136, then their widths at 138 to 144.
    const auto& columns = cache::kListColumns;
    const auto lineOf = [](std::size_t step) { return 130 + 2 * static_cast<int>(step); };
    for (std::size_t i = 0; i < columns.size(); ++i)
        g.step(lineOf(i), [&] { list_.addColumn(columns[i].caption); });
    for (std::size_t i = 0; i < columns.size(); ++i)
        g.step(lineOf(columns.size() + i),
               [&] { list_.setColumnWidth(static_cast<int>(i) + 1, columns[i].width); });
    g.step(146, [&] { list_.setSorted(true); });
    g.step(148, [&] { list_.setSortKey(cache::kFileNameColumn); });
    // One line each from 150, in the order the boxes are shown.
    for (const cache::FileTypeInfo& type : cache::kFileTypes)
        g.step(150 + 2 * static_cast<int>(type.type), [&] {
            box(type.type)->setChecked(setting(type.settingsKey, type.settingsDefault) == "1");
        });
    model_->catchUp();
}

void Form1::showCentred() {
    const auto centre = [this] {
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            const app::WindowRect outer = preview::outerGeometry(this);
            preview::moveFrame(this,
                               app::centredFrame({area.x(), area.y(), area.width(), area.height()},
                                                 {outer.width, outer.height}));
        }
    };
    // The outer frame is what is centred, and its size is known only once the window
    // manager has framed the window: centred as far as known before showing, then again.
    centre();
    show();
    preview::waitUntilFramed(this);
    centre();
}

void Form1::setCacheFolders(std::vector<std::string> folders) {
    selection_.folders = std::move(folders);
    // The only sign of a narrowed retrieve: the button says what it will read.
    QStringList names;
    for (const auto& f : selection_.folders)
        names << QString::fromUtf8(f.data(), static_cast<qsizetype>(f.size()));
    PushButton1->setToolTip(
        names.isEmpty()
            ? QStringLiteral("Drop folders or disk images (raw, split raw, E01, AFF, VHD, VMDK) on "
                             "the window to read only those.")
            : QStringLiteral("Reads only: ") + names.join(", "));
}

namespace {

// The local folders and files (disk images, told apart by their content when read) a drag
// carries; empty when it carries anything else.
std::vector<std::string> droppedFolders(const QMimeData* data) {
    std::vector<std::string> folders;
    if (!data || !data->hasUrls())
        return folders;
    for (const QUrl& url : data->urls()) {
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (path.isEmpty() || !(info.isDir() || info.isFile()))
            return {};
        folders.push_back(QFile::encodeName(path).toStdString());
    }
    return folders;
}

} // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFolders(event->mimeData()).empty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    auto folders = droppedFolders(event->mimeData());
    if (folders.empty())
        return;
    setCacheFolders(std::move(folders));
    event->acceptProposedAction();
}

void Form1::checkBoxChanged(QCheckBox* changed, const char* key) {
    WriteSetting(kSettingsApplication, kSettingsSection, key, changed->isChecked() ? "1" : "0");
}

void Form1::Text3_Change() {
    WriteSetting(kSettingsApplication, kSettingsSection, kKeyDownloadLocation,
                 Text3->text().toStdString());
}

int Form1::value(cache::FileType type) const {
    const QCheckBox* c = box(type);
    return c && c->isChecked() ? 1 : 0;
}

void Form1::setMousePointer(int code) {
    mousePointer_ = code;
    std::optional<QCursor> cursor;
    if (code == cache::MousePointerCode::Hourglass)
        cursor = QCursor(Qt::WaitCursor);
    else if (code == cache::MousePointerCode::Custom)
        cursor = handCursor_ ? *handCursor_ : QCursor(Qt::ArrowCursor);
    // One pointer for the whole window: its surface and every control on it.
    QList<QWidget*> widgets = findChildren<QWidget*>();
    widgets.prepend(this);
    for (QWidget* w : widgets) {
        if (cursor)
            w->setCursor(*cursor);
        else
            w->unsetCursor();
    }
    // Nothing more: the window system is told of the new pointer at once (the X connection
    // is flushed by the cursor change itself). Flushing through the event loop here would
    // also run waiting clicks and queued calls inside the command that shows the hourglass.
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && mousePointer_ != cache::MousePointerCode::Hourglass) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (qobject_cast<QPushButton*>(watched))
            setMousePointer(cache::MousePointerCode::Custom);
        else if (widget == Frame1 || widget == Frame2 ||
                 (widget && (widget == ListView1 || ListView1->isAncestorOf(widget))))
            setMousePointer(cache::MousePointerCode::Default);
    }
    if (watched == listViewport_ && listViewport_ != nullptr)
        listViewportMouse(event);
    return QWidget::eventFilter(watched, event);
}

void Form1::listViewportMouse(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease)
        return;
    const auto* mouse = dynamic_cast<const QMouseEvent*>(event);
    if (mouse == nullptr || mouse->button() != Qt::LeftButton)
        return;
    const bool empty = !ListView1->indexAt(mouse->position().toPoint()).isValid();
    if (type != QEvent::MouseButtonRelease) {
        pressedOnEmptyList_ = empty;
        return;
    }
    // A click is a press and a release both on the empty part, as one on a row is both on
    // that row. It shows the selected row again: the one highlighted (the keys may have moved
    // the highlight since the last click), else the one last shown, as the view takes the
    // highlight off once the click is over. With no row selected there is nothing to show and
    // nothing happens.
    if (!std::exchange(pressedOnEmptyList_, false) || !empty)
        return;
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    if (!rows.isEmpty() && static_cast<std::size_t>(rows.front().row()) < list_.count())
        list_.select(list_.rowAt(static_cast<std::size_t>(rows.front().row()) + 1));
    const std::optional<cache::RowId> selected = list_.selectedIfAny();
    if (selected && list_.exists(*selected))
        ListView1_Click();
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    if (mousePointer_ != cache::MousePointerCode::Hourglass)
        setMousePointer(cache::MousePointerCode::Default);
    QWidget::mouseMoveEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program at once, the preview with it.
    closing_ = true;
    if (form2_)
        form2_->close();
    event->accept();
    QApplication::quit();
}

std::string Form1::destinationText() const {
    return Text3->text().toStdString();
}

std::string Form1::messageTitle() const {
    return ApplicationTitle();
}

void Form1::setProgress(std::size_t done, std::size_t total) {
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(total == 0 ? 0 : static_cast<int>(done * 1000 / total));
}

void Form1::setText(const std::string& text) {
    Text3->setText(QString::fromStdString(text));
}

void Form1::PushButton1_Click() {
    cache::PushButton1_Click(list_, *this, *this, selection_);
    model_->catchUp();
}

void Form1::PushButton3_Click() {
    save::PushButton3_Click(list_, *this);
}

void Form1::PushButton5_Click() {
    cache::PushButton5_Click(list_);
    model_->catchUp();
}

void Form1::PushButton6_Click() {
    cache::PushButton6_Click(list_);
    model_->catchUp();
}

void Form1::PushButton8_Click() {
    save::PushButton8_Click(*this, static_cast<long>(winId()));
}

void Form1::ListView1_Click() {
    preview::ListView1_Click(list_, this, form2_, icon_);
}

preview::Form2* Form1::previewWindow() const {
    return form2_.data();
}

} // namespace app
