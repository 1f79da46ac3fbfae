#pragma once
// What the logic asks of its windows. Texts are GBK, buffers are ByteBuffer values; no
// operation fails towards its caller. A toolkit binding implements this; the logic never
// sees the toolkit.

#include <cstdint>
#include <optional>

#include "runtime/byte_buffer.h"

namespace kerbilo {

// Message-box result codes, as stored and compared by the logic.
enum MessageResult : int {
    kResultOk = 0,
    kResultCancel = 1,
    kResultYes = 5,
    kResultNo = 6,
};

enum class MessageStyle {
    OkCancelInformation,  // size warning of a replacement
    OkCancel,             // confirmation of export all
    YesNoCancel,          // unsaved-changes question
    OkInformation,        // a failure the user has to know about
};

enum class FileDialogMode { Open, Save };

// One dialog object's settings; they persist from one showing to the next.
struct FileDialogSettings {
    FileDialogMode mode = FileDialogMode::Open;
    Text filter;            // "description|pattern|description|pattern"; masks split by ";"
    Text fileName;          // pre-filled before showing; the chosen full path after it
    Text initialFolder;     // empty: the platform's default
    Text defaultExtension;  // given by a save dialog to a name typed without one
};

enum class Control { Tree, PicturePane, StatusBar };
enum class Menu { File, Edit, Help };
enum class MenuItem {
    Open,
    SetOutputFolder,
    Save,
    Exit,
    ReplaceResource,
    ExportResource,
    ExportAllResources,
    StructureScan,
    About,
    UpdateLibraries,
};
enum class Pane { Main };

class UiServices {
  public:
    virtual ~UiServices() = default;

    virtual int showMessage(const Text& text, MessageStyle style, const Text& title) = 0;
    // True when a file was confirmed; settings.fileName then holds its full path.
    virtual bool showFileDialog(FileDialogSettings& settings) = 0;
    // A modal folder chooser owned by `owner`, starting at the top of the file system.
    virtual std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) = 0;

    // The status bar's one text.
    virtual void setStatusText(const Text& text) = 0;

    // Tree items are addressed by their 0-based index in a depth-first pre-order walk.
    virtual void clearTree() = 0;
    virtual int addTreeItem(int parent, const Text& text, std::int64_t itemData = 0) = 0;
    virtual int treeItemCount() = 0;
    virtual Text treeItemText(int index) = 0;
    virtual std::int64_t treeItemData(int index) = 0;
    virtual int treeItemParent(int index) = 0;
    virtual void expandTreeItem(int index) = 0;
    virtual int selectedTreeItem() = 0;
    // Makes item index the selected one (and the current one the keyboard moves from);
    // an index that addresses no item clears the selection.
    virtual void selectTreeItem(int index) = 0;

    virtual void redrawControl(Control control) = 0;
    virtual void setWindowTitle(const Text& text) = 0;
    virtual std::uintptr_t mainWindowHandle() = 0;
    virtual void setMenuItemDisabled(MenuItem item, bool disabled) = 0;
    virtual void popUpMenu(Menu menu) = 0;
    virtual void setPictureData(Pane pane, const ByteBuffer& data) = 0;
    virtual void processPendingEvents() = 0;
};

}  // namespace kerbilo
