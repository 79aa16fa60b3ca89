// The process-wide record shared by the GUI thread and the worker, and the shared types of the
// device conversation. Both threads read and write the record without locks, so every field is
// a std::atomic written whole.
#pragma once

#include <atomic>
#include <cstdint>

enum Operation : int32_t {
    OP_NONE = 0,
    OP_ERASE = 1,
    OP_READ = 2,
    OP_WRITE = 3,
    OP_UPDATE = 4,
};

// Erase, Write and Update change the board's memory or the adapter's EEPROM, and one cut short
// leaves it half written. A Read changes nothing and may be cut: its save never leaves half a file.
constexpr bool operationBlocksSessionEnd(int32_t op) {
    return op == OP_ERASE || op == OP_WRITE || op == OP_UPDATE;
}

// The GUI's timer ticks this often; `statusHold` counts its ticks.
constexpr uint32_t STATUS_TICK_MS = 200;
// The hold that keeps a status text about `ms` milliseconds.
constexpr uint32_t statusHoldTicks(uint32_t ms) { return ms / STATUS_TICK_MS; }
// `statusHold` value that keeps a status text until another value is stored.
constexpr uint32_t STATUS_HOLD_FOREVER = 0xFFFFFFFFu;

struct AppState {
    std::atomic<void *> mainWindow{nullptr};    // HWND of the main window
    std::atomic<void *> instance{nullptr};      // HINSTANCE of the module
    std::atomic<void *> workerThread{nullptr};  // HANDLE of the worker thread
    std::atomic<void *> foreignWindow{nullptr}; // window found by the start-up scan
    // Set by a button press after the four buttons were disabled; taken (set to 0) by the worker.
    std::atomic<int32_t> requestedOperation{OP_NONE};
    // 1 from the press of an operation that changes the board or the adapter (see
    // `operationBlocksSessionEnd`) until the worker has ended it: meanwhile the window keeps
    // Windows from ending the session. Set by the press, before the request; cleared by the worker.
    std::atomic<int32_t> blockingOperation{0};
    // Status-line countdown in STATUS_TICK_MS timer ticks; 0 none. Written only on the GUI thread.
    std::atomic<uint32_t> statusHold{0};
    std::atomic<int32_t> updateRequired{0};  // 1: only Update may run
    std::atomic<int32_t> deviceFound{0};     // 1 once an adapter was identified; starts the banner
};

extern AppState g_appState;

// Board memory image: byte n is board address n. Read fills it and Write loads it from a file,
// on the worker thread (worker/memory_ops.cpp); the GUI never touches it.
constexpr uint32_t MEMORY_SIZE = 32768;
extern uint8_t g_memoryImage[MEMORY_SIZE];
