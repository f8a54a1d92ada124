// The main window.
#pragma once

#include "app/window/found_file_model.h"
#include "app/window/skin.h"
#include "cache/scan/commands.h"
#include "cache/scan/file_types.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/retrieve.h"
#include "cache/scan/url_cache.h"
#include "save/folder_chooser.h"
#include "save/save_command.h"

#include <QCursor>
#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace preview {
class Form2;
}

namespace app {

class Form1 final : public QWidget,
                    public cache::FileTypeSwitches,
                    public cache::PointerTarget,
                    public save::SaveWindow,
                    public save::DestinationBox {
    Q_OBJECT
  public:
    // programFolder: where HAND-M.CUR and x/o.cjs are looked for (the executable's folder);
    // dataFolder: where HAND-M.CUR is looked for next (the installed data folder), if given.
    explicit Form1(QString programFolder, QString dataFolder = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence; run once before the window is shown.
    void Form_Load();
    // What the next Retrieve reads: these folders only (none: the user's own caches). Set
    // from the command line, or by dropping folders onto the window.
    void setCacheFolders(std::vector<std::string> folders);
    const cache::CacheSelection& cacheSelection() const { return selection_; }
    void showCentred();

    // Commands, as the buttons and the list run them.
    void PushButton1_Click();
    void PushButton3_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton8_Click();
    void ListView1_Click();

    // cache::FileTypeSwitches
    int value(cache::FileType type) const override;
    // The box of a file type (Check2, Check4...).
    QCheckBox* box(cache::FileType type) const {
        return fileTypeBoxes_[static_cast<std::size_t>(type)];
    }
    // cache::PointerTarget
    void setMousePointer(int code) override;
    int mousePointer() const { return mousePointer_; }
    // save::SaveWindow
    std::string destinationText() const override;
    void setProgress(std::size_t done, std::size_t total) override;
    bool closing() const override { return closing_; }
    std::string messageTitle() const override;
    // save::DestinationBox
    void setText(const std::string& text) override;

    cache::FoundFileList& list() { return list_; }
    FoundFileModel& model() { return *model_; }
    SkinFramework& skinFramework() { return SkinFramework1; }
    preview::Form2* previewWindow() const;
    bool hasHandCursor() const { return handCursor_.has_value(); }

    // Twips to pixels on this screen (15 twips a pixel at 96 dpi).
    int px(int twips) const;

    // The controls, by the names the program's texts and settings use for them.
    QGroupBox* Frame2 = nullptr;
    QCheckBox* Check2 = nullptr;
    QCheckBox* Check4 = nullptr;
    QCheckBox* Check7 = nullptr;
    QCheckBox* Check9 = nullptr;
    QCheckBox* Check10 = nullptr;
    QCheckBox* Check11 = nullptr;
    QCheckBox* Check12 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QTreeView* ListView1 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The controls at their designed places, in the designed order, wired to their commands.
    void buildControls();
    void buildFileTypeBoxes();
    void buildList();
    void keepMouseMovesInTheirControls();
    void setDesignedTabOrder();
    void connectControls();
    void place(QWidget* w, int left, int top, int width, int height) const;
    QPushButton* makeButton(QWidget* parent, const char* name, const char* caption);
    void applyColumnWidths();
    // The presses and releases of the list's viewport: a click on its empty part.
    void listViewportMouse(QEvent* event);
    void checkBoxChanged(QCheckBox* box, const char* key);
    void Text3_Change();

    std::array<QCheckBox*, cache::kFileTypeCount> fileTypeBoxes_{}; // in cache::kFileTypes order
    QString programFolder_;
    QString dataFolder_;
    cache::FoundFileList list_;
    cache::CacheSelection selection_; // folders named on the command line or dropped
    FoundFileModel* model_ = nullptr;
    SkinFramework SkinFramework1;
    int mousePointer_ = 0;
    std::optional<QCursor> handCursor_;
    QIcon icon_;
    QPointer<preview::Form2> form2_;
    bool closing_ = false;
    bool pressedOnEmptyList_ = false;
    // The list's viewport, kept so that the event filter never asks the list for it while
    // the list is being destroyed (its children's last events still arrive).
    QWidget* listViewport_ = nullptr;
    double scale_ = 1.0;
};

} // namespace app
