// Erase, Read and Write: the operations on the board's 32 KB memory. Erase and Write read back
// what they sent before they report success. Once block traffic has begun every ending
// re-connects; only Write's file step, before any block, keeps the connection.
#include "worker/window_ops.h"
#include "worker/worker.h"

namespace {

constexpr uint32_t SETTLE_PAUSE_MS = 1000;

const OperationOutcome DONE = {OUTCOME_DONE, nullptr, nullptr};

OperationOutcome dropped(const wchar_t *logText, const wchar_t *statusText) {
    return {OUTCOME_FAILED_DROP, logText, statusText};
}

OperationOutcome kept(const wchar_t *logText, const wchar_t *statusText) {
    return {OUTCOME_FAILED_STAY, logText, statusText};
}

const OperationOutcome BLOCK_FAILED = {OUTCOME_FAILED_DROP, L"Fail!", L"Operation failed!"};

// Shown before every block; the position is set before the block is sent. One step per 128
// bytes, so an Erase or a Write steps past the bar's end on its last block.
void blockProgress(const Worker &w, uint32_t address) {
    showProgressStep(w, address * (PROGRESS_MAX + 1) / MEMORY_SIZE + 1);
}

// Sends `image` block by block; without an image every block is all 0xFF. The Erase packet is
// built once: only its header and checksum change from block to block.
bool writeAllBlocks(const Worker &w, const uint8_t *image) {
    BlockWritePacket erased;
    for (uint8_t &b : erased.bytes) b = 0xFF;
    for (uint32_t address = 0; address < MEMORY_SIZE; address += BLOCK_WRITE_SIZE) {
        // A closing program sends no further block.
        if (stopRequested(w)) return false;
        blockProgress(w, address);
        bool accepted;
        if (image) {
            accepted = writeBlock(w.link, uint16_t(address), image + address);
        } else {
            setBlockWriteHeader(erased, uint16_t(address));
            accepted = sendBlockWritePacket(w.link, erased);
        }
        if (!accepted) return false;
    }
    return true;
}

// The board acknowledges a block when its packet arrived whole, not when its memory kept it: a
// fault of the board's memory chip acknowledges everything. So the whole memory is read back, as
// Read moves it, and compared with what was sent; a difference names the first address, the
// count and what explains them. `image` is what was sent; without one, every byte was 0xFF.
OperationOutcome verifyAllBlocks(Worker &w, const uint8_t *image) {
    logText(w, " Ok.\r\nVerify ECU memory, wait... ");
    for (uint32_t address = 0; address < MEMORY_SIZE; address += BLOCK_READ_SIZE) {
        if (stopRequested(w)) return BLOCK_FAILED;
        blockProgress(w, address);
        if (!readBlock(w.link, uint16_t(address), w.readBack + address)) return BLOCK_FAILED;
    }
    const VerifyReport report = analyseVerify(image, w.readBack);
    if (report.differing == 0) return DONE;
    formatVerifyReport(report, w.verifyText);
    return dropped(w.verifyText, L"Verify failed!");
}

}  // namespace

OperationOutcome eraseMemory(Worker &w) {
    logText(w, " Erase.\r\nClear ECU memory, wait... ");
    if (!writeAllBlocks(w, nullptr)) return BLOCK_FAILED;
    pauseMs(w, SETTLE_PAUSE_MS);
    return verifyAllBlocks(w, nullptr);
}

OperationOutcome readMemory(Worker &w) {
    logText(w, " Read.\r\nRead data from ECU, wait... ");
    for (uint32_t address = 0; address < MEMORY_SIZE; address += BLOCK_READ_SIZE) {
        if (stopRequested(w)) return BLOCK_FAILED;
        blockProgress(w, address);
        if (!readBlock(w.link, uint16_t(address), g_memoryImage + address)) return BLOCK_FAILED;
    }
    logText(w, " Ok.\r\nSave binary file... ");
    // A dialog answered while the program closes saves nothing.
    const Host &host = *w.host;
    if (!workerWindowOpen(w) || !host.askImageFile(host.context, FILE_DIALOG_SAVE, w.fileName) ||
        stopRequested(w))
        return dropped(L"Canceled.\r\n", L"Operation canceled!");
    switch (host.saveImageFile(host.context, w.fileName, g_memoryImage)) {
    case FILE_OK: return DONE;
    case FILE_OPEN_FAILED:
    case FILE_BAD_SIZE: return dropped(L"Can't create file!\r\n", L"Can't create file!");
    case FILE_IO_FAILED: break;
    }
    return dropped(L"Can't write file!\r\n", L"Can't write file!");
}

OperationOutcome writeMemory(Worker &w) {
    logText(w, " Write.\r\nLoad binary file... ");
    const Host &host = *w.host;
    if (!workerWindowOpen(w) || !host.askImageFile(host.context, FILE_DIALOG_OPEN, w.fileName) ||
        stopRequested(w))
        return kept(L"Canceled.\r\n", L"Operation canceled!");
    switch (host.loadImageFile(host.context, w.fileName, g_memoryImage)) {
    case FILE_OK: break;
    case FILE_OPEN_FAILED: return kept(L"Can't open file!\r\n", L"Can't open file!");
    case FILE_BAD_SIZE: return kept(L"Invalid file size!\r\n", L"Invalid file size!");
    case FILE_IO_FAILED: return kept(L"Can't read file!\r\n", L"Can't read file!");
    }
    logText(w, " Ok.\r\nWrite data to ECU, wait... ");
    if (!writeAllBlocks(w, g_memoryImage)) return BLOCK_FAILED;
    pauseMs(w, SETTLE_PAUSE_MS);
    return verifyAllBlocks(w, g_memoryImage);
}
