#include <cstring>

#include "config/config_files.h"
#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"
#include "scan/tree.h"

namespace kerbilo {

Text suffixOfItem(ProgramState& state, int item) {
    return readKindSuffix(state.files, kindNameOfItem(state, item));
}

ReplaceResult replaceResource(ProgramState& state) {
    if (!commandsAllowed(state)) return ReplaceResult::Refused;
    UiServices& ui = state.ui;
    const int item = ui.selectedTreeItem();
    if (resourceOfItem(state, item) == 0) return ReplaceResult::NotAResource;
    const Text group = ui.treeItemText(ui.treeItemParent(item));
    state.openDialog.filter =
        concatText({group, edit_text::filterKindMiddle(), suffixOfItem(state, item), "|",
                    edit_text::filterAllFiles()});
    if (!ui.showFileDialog(state.openDialog)) return ReplaceResult::Cancelled;
    const Text path = state.openDialog.fileName;
    const std::optional<ByteBuffer> data = state.files.tryReadWholeFile(path);
    if (!data) {
        ui.showMessage(concatText({edit_text::cannotReadPrefix(), path, "\r\n",
                                   edit_text::reasonPrefix(), state.files.lastError()}),
                       MessageStyle::OkInformation, edit_text::noticeTitle());
        return ReplaceResult::Unreadable;
    }
    return applyReplacement(state, ui.selectedTreeItem(), *data);
}

ReplaceResult applyReplacement(ProgramState& state, int itemIndex, const ByteBuffer& newData) {
    UiServices& ui = state.ui;
    const int n = resourceOfItem(state, itemIndex);
    if (n == 0) return ReplaceResult::NotAResource;
    state.file.modified = true;
    ui.setMenuItemDisabled(MenuItem::Save, false);

    const Slot slot = state.catalogue.slot(n);
    const auto off = static_cast<std::size_t>(slot.offset);
    const auto oldLength = static_cast<std::size_t>(slot.length);
    const std::size_t newLength = newData.size();
    if (newLength <= oldLength) {
        // Detaches from the bytes as opened, which the other resources' views still read.
        std::uint8_t* p = state.file.bytes.mutableData();
        if (!p) return ReplaceResult::Declined;  // out of memory: nothing was changed
        if (newLength) std::memcpy(p + off, newData.data(), newLength);
        std::memset(p + off + newLength, 0, oldLength - newLength);
    } else {
        const int answer = ui.showMessage(
            concatText({edit_text::sizeWarningNew(), intToText(bufferLength(newData)),
                        edit_text::sizeWarningOld(), intToText(slot.length),
                        edit_text::sizeWarningQuestion()}),
            MessageStyle::OkCancelInformation, edit_text::noticeTitle());
        if (answer != kResultOk) return ReplaceResult::Declined;
        const ByteBuffer& bytes = state.file.bytes;
        ByteBuffer grown =
            concatBytes({bytes.slice(0, off), newData, bytes.slice(off + oldLength, bytes.size())});
        // An allocation that failed gives an empty buffer: keep the copy rather than lose it.
        if (grown.size() != bytes.size() - oldLength + newLength) return ReplaceResult::Declined;
        state.file.bytes = std::move(grown);
        state.catalogue.resizeSlot(n, bufferLength(newData));
    }
    state.catalogue.replaceData(n, newData);
    ui.setPictureData(Pane::Main, state.catalogue.data(n));
    return ReplaceResult::Replaced;
}

}  // namespace kerbilo
