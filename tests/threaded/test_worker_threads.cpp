// The worker on its own thread against a stand-in GUI thread, under ThreadSanitizer: window
// operations carried out on the GUI thread, a button press from there, the status countdown
// ticking there, and a stop while the worker is busy. Time is virtual; the threads only wait for
// each other.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/host_recorder.h"
#include "worker/worker.h"

namespace {

struct GuiThread {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> calls;
    uint64_t callsDone = 0;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> nowUs{1000000};
    // GUI-thread state.
    std::string log;
    bool logCleared = false;  // by a later identification: the re-connect is done
    bool buttons[5] = {};
};

GuiThread *g_gui;

// Runs `call` on the GUI thread and returns when it has run, as a sent window message does.
void onGui(std::function<void()> call) {
    std::unique_lock<std::mutex> lock(g_gui->mutex);
    if (g_gui->stop) return;
    g_gui->calls.push_back(std::move(call));
    const uint64_t ticket = g_gui->callsDone + g_gui->calls.size();
    g_gui->changed.notify_all();
    g_gui->changed.wait(lock, [ticket] { return g_gui->callsDone >= ticket; });
}

// Filled member by member, as two members share a type.
Host threadedHost() {
    Host h = {};
    h.appendLog = [](void *, const wchar_t *text) { onGui([t = narrow(text)] { g_gui->log += t; }); };
    h.clearLog = [](void *) {
        onGui([] {
            g_gui->log.clear();
            g_gui->logCleared = true;
        });
    };
    h.setTypeLabel = [](void *, const char *) { onGui([] {}); };
    h.setInfoLabel = [](void *, InfoLabel, const wchar_t *) { onGui([] {}); };
    h.showStatus = [](void *, const wchar_t *, uint32_t hold) { onGui([hold] { g_appState.statusHold = hold; }); };
    h.showProgress = [](void *, uint32_t) { onGui([] { g_appState.statusHold = 0; }); };
    h.setButtonStates = [](void *, bool ready) {
        onGui([ready] {
            for (int op = OP_ERASE; op <= OP_UPDATE; ++op)
                g_gui->buttons[op] = buttonEnabledByRule(Operation(op), ready, g_appState.updateRequired != 0);
        });
    };
    h.askImageFile = [](void *, FileDialogKind, wchar_t *) { return false; };
    h.fatalError = [](void *, const wchar_t *) {};
    h.loadImageFile = [](void *, const wchar_t *, uint8_t *) { return FILE_OPEN_FAILED; };
    h.saveImageFile = [](void *, const wchar_t *, const uint8_t *) { return FILE_OPEN_FAILED; };
    h.programPath = [](void *, wchar_t *buffer, size_t) -> size_t { buffer[0] = 0; return 0; };
    h.waitForRequest = [](void *, uint32_t ms) {
        std::unique_lock<std::mutex> lock(g_gui->mutex);
        g_gui->changed.wait_for(lock, std::chrono::milliseconds(1), [] {
            return g_gui->stop || g_appState.requestedOperation != OP_NONE;
        });
        g_gui->nowUs += uint64_t(ms) * 1000;
    };
    return h;
}
const Host THREADED_HOST = threadedHost();

const ClockSeam THREADED_CLOCK = {
    nullptr,
    [](void *) { return uint32_t(g_gui->nowUs / 1000); },
    [](void *, uint32_t ms) { if (!g_gui->stop) g_gui->nowUs += uint64_t(ms) * 1000; },
    [](void *) { return g_gui->stop.load(); },
};

uint64_t simNow(void *) { return g_gui->nowUs; }
void simSleep(void *, uint64_t us) { g_gui->nowUs += us; }

TEST(WorkerThreads, PressFromTheGuiThreadRunsAndStopEndsTheWorker) {
    GuiThread gui;
    g_gui = &gui;
    Sim sim;
    simReset(sim, SimClock{nullptr, simNow, simSleep});
    Worker record = makeWorker(simD2xx(sim), &THREADED_CLOCK, &THREADED_HOST);
    simAddAdapter(sim);
    simAdapter(sim, 0).board.wireTiming = true;

    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        workerMain(record);
        workerDone = true;
        std::lock_guard<std::mutex> lock(gui.mutex);
        gui.changed.notify_all();
    });

    // The GUI loop: carry out sent calls, tick the status countdown, press Erase at the first
    // choice and ask for a stop at the second one (after the re-connect).
    int choices = 0;
    const std::string choice = "Waiting for your choice...";
    std::unique_lock<std::mutex> lock(gui.mutex);
    while (!workerDone) {
        gui.changed.wait_for(lock, std::chrono::milliseconds(1),
                             [&] { return workerDone || !gui.calls.empty(); });
        while (!gui.calls.empty()) {
            auto call = std::move(gui.calls.front());
            gui.calls.pop_front();
            call();
            ++gui.callsDone;
            gui.changed.notify_all();
        }
        const uint32_t hold = g_appState.statusHold;
        if (hold != 0) g_appState.statusHold = hold - 1;

        const bool seen = gui.log.size() >= choice.size() &&
                            gui.log.compare(gui.log.size() - choice.size(), choice.size(), choice) == 0;
        if (seen && gui.buttons[OP_ERASE] && choices == 0) {
            ++choices;
            for (bool &b : gui.buttons) b = false;
            g_appState.requestedOperation = OP_ERASE;
            gui.changed.notify_all();
        } else if (seen && choices == 1 && gui.logCleared) {
            // The choice after the re-connect, not the first one seen again before the worker
            // took the press.
            ++choices;
            gui.stop = true;
            gui.changed.notify_all();
        }
    }
    lock.unlock();
    worker.join();
    closeChannels(record.link);

    EXPECT_EQ(choices, 2);
    for (int i = 0; i < 32768; ++i) ASSERT_EQ(simAdapter(sim, 0).board.memory[i], 0xFF) << i;
    EXPECT_EQ(simCount(sim, SIM_CYCLE_PORT), 1);
    EXPECT_EQ(sim.world.openHandles, 0);
}

}  // namespace
