// The library and the window as the worker sees them in the campaign: the simulator behind a
// seeded fault injector, and the recording host, both watched.
#include <algorithm>
#include <cstring>
#include <map>

#include "tests/campaign/campaign.h"

namespace campaign {

const D2xxApi *g_inner;   // the simulator's library, behind the fault draw
const Host *g_innerHost;  // the recording host, behind the watch

// --- the library, as the program sees it: the simulator behind a seeded fault injector ---

std::string channelName(int c) {
    return c < 0 ? "no channel" : format("adapter %d %c", c / 2, "AB"[c % 2]);
}

// The port is cycled only in the success tail of a complete operation; after an Update, once
// all 64 words were written and (with FT_ReadEE) read back equal.
void checkCycle() {
    const Run &r = g_run;
    const bool complete =
        r.op == OP_READ     ? r.saved
        : r.op == OP_UPDATE ? r.eeNext == 64 && !r.eeFailed && (!r.readEE || r.eeVerified == 64)
                            : writesBoard() && allBlocksTaken() && r.readBacks == 128;
    if (!complete || !r.okLogged) violate("port cycled before the operation was complete");
}

// Before every call: the checks between calls, the world's call-anchored events and the fault
// draw. True, with `status`, when the call is to fail without reaching the simulator.
bool enter(SimFn fn, FT_STATUS &status) {
    // A hang in virtual time: the worker calls or reads the clock on and on.
    if (++g_run.allCalls > CALL_CAP || g_run.host->clockReads > CALL_CAP)
        violate("more library calls than any world needs");
    if (g_run.allCalls > 2 * CALL_CAP) abort();  // not even the stop ended it: onDeath names it
    checkPressKept(nullptr);
    if (fn == SIM_CREATE_LIST) {
        // A search begins: the connection before it has ended with its last line, and the
        // program holds no channel.
        finishOp();
        g_run.pendingPress = 0;
        if (g_run.announced && !g_run.stopped)
            violate("a connection ended without the re-connect or the disconnect line");
        if (!g_run.held.empty())
            violate("a search began with " + channelName(*g_run.held.begin()) + " open");
    }
    if (fn == SIM_WRITE_EE && (g_run.op != OP_UPDATE || g_run.reported))
        violate("EEPROM written outside an Update");
    if (fn == SIM_CYCLE_PORT) checkCycle();
    if (g_run.anchoredCalls >> fn & 1) fireAnchored(BEFORE_CALL, fn, g_run.calls[fn]);
    ++g_run.calls[fn];
    ++g_run.depth;
    if (!oneIn(g_run.faults, g_run.faultOneIn)) return false;
    status = oneIn(g_run.faults, 4) ? FT_STATUS(next(g_run.faults)) | 1 : 1 + below(g_run.faults, 18);
    g_run.failedCall = true;
    return true;
}

FT_STATUS leave(SimFn fn, FT_STATUS status) {
    if (--g_run.depth == 0 && g_run.stopInCall && !g_run.settleUs) g_run.settleUs = now();
    if (g_run.failedCall && g_run.tracing)
        note(format("%s fails by the world's hand: %u", simFnName(fn), status));
    g_run.failedCall = false;
    return status;
}

// Every entry but FT_Read: the fault draw, then the simulator. A close that reports a failure
// has closed all the same: the handle is gone either way.
template <SimFn FN, auto ENTRY, typename Entry> struct Faulty;
template <SimFn FN, auto ENTRY, typename... Args> struct Faulty<FN, ENTRY, FT_STATUS (*)(Args...)> {
    static FT_STATUS FT_API call(Args... args) {
        FT_STATUS status;
        const bool fails = enter(FN, status);
        if (!fails || FN == SIM_CLOSE) {
            const FT_STATUS real = (g_inner->*ENTRY)(args...);
            if (!fails) status = real;
        }
        return leave(FN, status);
    }
};
#define FAULTY(fn, entry) Faulty<fn, &D2xxApi::entry, decltype(D2xxApi::entry)>::call

// FT_Read may also come back with fewer bytes than asked.
FT_STATUS FT_API cRead(FT_HANDLE h, void *buffer, uint32_t length, uint32_t *done) {
    FT_STATUS st;
    if (!enter(SIM_READ, st)) {
        if (!oneIn(g_run.faults, g_run.shortReadOneIn))
            st = g_inner->read(h, buffer, length, done);
        else if (length > 1)
            st = g_inner->read(h, buffer, 1 + below(g_run.faults, length - 1), done);
        else
            st = FT_OK, *done = 0;  // back at once with nothing
    }
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    const uint32_t got = st == FT_OK ? *done : 0;
    // After a block write, the first byte that comes is the board's answer.
    if (g_run.awaitingAnswer && (st != FT_OK || got > 0)) {
        g_run.awaitingAnswer = false;
        g_run.blockFailed = st != FT_OK || bytes[0] != BOARD_ACK;
    }
    if (g_run.tracing) {
        ++g_run.reads;
        if (st != FT_OK) g_run.readBytes += format("[status %u] ", st);
        for (uint32_t i = 0; i < got && g_run.readBytes.size() < 60; ++i)
            g_run.readBytes += format("%02X ", bytes[i]);
    }
    return leave(SIM_READ, st);
}

// What goes on the wire: "VV" at any time; block reads only in a Read, block writes only in an
// Erase or a Write, on the adapter it began on, in address order, one in flight, carrying the
// erase fill or the file.
void checkPacket(int channel, const std::vector<uint8_t> &p) {
    if (channel % 2 || !g_run.held.count(channel))
        return violate("FT_Write on " + channelName(channel));
    if (p == std::vector<uint8_t>{'V', 'V'}) return;
    const bool read = p.size() == 5 && p[0] == 'R';
    const uint32_t address = uint32_t(p[2]) << 8 | p[3],
                   size = read ? BLOCK_READ_SIZE : BLOCK_WRITE_SIZE;
    if (!read && (p.size() != 133 || p[0] != 'W')) return violate("an unknown packet on channel A");
    const bool readBack = read && g_run.verifying;
    if (read ? g_run.op != OP_READ && !readBack : !writesBoard() || g_run.verifying)
        return violate(read ? "a block read outside a Read or a read-back"
                            : "board memory written outside an Erase or a Write");
    if (g_run.reported || channel / 2 != g_run.opAdapter)
        return violate("a block after the end, or to another adapter");
    if (g_run.blockFailed || g_run.awaitingAnswer)
        return violate("a block sent after a failed or unanswered one");
    int &sent = readBack ? g_run.readBacks : g_run.blocks;
    if (address != uint32_t(sent++) * size)
        return violate(format("block %04X out of order", address));
    if (read) return;
    if (g_run.op == OP_WRITE && g_run.writeData.empty())
        return violate("a block written before the file was loaded");
    if (memcmp(p.data() + 4, sentData(address / size), size) != 0)
        return violate(format("block %04X carries other data", address));
    g_run.awaitingAnswer = true;
}

// Every call that reached the simulator, as its trace records it.
void watchLibrary(Sim &, const SimCall &call) {
    const int channel = call.adapter < 0 ? -1 : call.adapter * 2 + call.channel;
    const uint32_t word = call.arg[0], value = call.arg[1];
    const bool ok = call.status == FT_OK;
    if (g_run.tracing)
        note(format("%s %s [%X %X]%s -> %u", simFnName(call.fn), channelName(channel).c_str(), word,
                    value, call.data.empty() ? "" : format(" %c.. %zu bytes", call.data[0],
                                                           call.data.size()).c_str(), call.status));
    switch (call.fn) {
    case SIM_OPEN:
        if (ok && !g_run.held.insert(channel).second) violate("a channel opened twice");
        break;
    case SIM_CLOSE:
        if (!g_run.held.erase(channel)) violate("FT_Close of a channel the program does not hold");
        break;
    case SIM_WRITE:
        checkPacket(channel, call.data);
        if (!ok && g_run.awaitingAnswer) g_run.awaitingAnswer = false, g_run.blockFailed = true;
        break;
    case SIM_GET_INFO: {
        // What the program learnt of the adapter: what it must show and how to treat it.
        const FT_DEVICE_LIST_INFO_NODE &r = simAdapter(g_run.host->sim, call.adapter).channels[call.channel].record;
        std::string &name = g_run.identifiedName;
        if (!ok) break;
        g_run.identified = call.adapter;
        g_run.identifiedId = r.ID;
        name.assign(r.Description, strnlen(r.Description, sizeof r.Description));
        if (name.size() >= 2 && name.substr(name.size() - 2) == " A") name.resize(name.size() - 2);
        break;
    }
    case SIM_WRITE_EE:
        // Only for an adapter that needs it, through its channel A, with the image's words in
        // order; after all 64, a word is written again only when its read-back just differed.
        if (channel != g_run.opAdapter * 2 || !g_run.needsUpdate)
            violate("EEPROM written on an adapter that needs no Update");
        else if (word >= 64 || value != AdapterEepromImage[word] || g_run.eeFailed)
            violate(format("EEPROM word %u written with %04X", word, value));
        else if (g_run.eeNext < 64 ? int(word) != g_run.eeNext
                                   : int(word) != g_run.lastReadWord || !g_run.lastReadDiffers)
            violate(format("EEPROM word %u written out of order", word));
        if (!ok) g_run.eeFailed = true;
        else if (g_run.eeNext < 64) ++g_run.eeNext;
        break;
    case SIM_READ_EE:
        if (g_run.op != OP_UPDATE || g_run.eeNext < 64 || word >= 64) break;
        g_run.lastReadWord = int(word);
        g_run.lastReadDiffers = ok && value != AdapterEepromImage[word];
        if (ok && !g_run.lastReadDiffers && int(word) == g_run.eeVerified) ++g_run.eeVerified;
        break;
    case SIM_CYCLE_PORT:
        if (channel != g_run.opAdapter * 2) violate("another channel than the operation's A cycled");
        break;
    default: break;
    }
}

// Every entry of the library's one list behind the fault draw; FT_Read with its short reads.
D2xxApi campaignLibrary() {
#define CAMPAIGN_WRAPPER(name, member, tag, need, params, args) FAULTY(SIM_##tag, member),
    D2xxApi api = {D2XX_ENTRIES(CAMPAIGN_WRAPPER)};
#undef CAMPAIGN_WRAPPER
    api.read = cRead;
    return api;
}

// --- the window, as the worker sees it: the recording host, watched ---

// Every window operation as the recording host records it: before it is carried out, the texts
// and what must come next; once it is, the buttons, which follow the enable rule or are all off.
void watchWindow(const std::string &event, bool done) {
    const bool *b = g_run.host->buttons, update = g_appState.updateRequired != 0;
    if (done) {
        bool any = false, rule = true;
        for (int op = OP_ERASE; op <= OP_UPDATE; ++op) {
            any = any || b[op];
            rule = rule && b[op] == buttonEnabledByRule(Operation(op), true, update);
        }
        if (any && !rule)
            violate(format("buttons E%d R%d W%d U%d neither follow the rule nor are all off", b[1],
                           b[2], b[3], b[4]));
        fireAnchored(AFTER_WINDOW_OP, SIM_READ, g_run.windowOps++);
        // The first press waiting for its button, now that it is enabled.
        const auto ready = std::find_if(g_run.patient.begin(), g_run.patient.end(),
                                        [b](size_t index) { return b[g_run.events[index].target]; });
        if (ready == g_run.patient.end()) return;
        const size_t index = *ready;
        g_run.patient.erase(ready);
        g_run.fired[index] = false;
        return fire(index);
    }
    note(event);
    const std::string log = event.compare(0, 4, "log ") == 0 ? event.substr(4) : std::string("\x01");
    checkPressKept(&log);
    if (!g_run.expectLog.empty() && log != g_run.expectLog)
        violate("\"" + g_run.expectLog + "\" should have been reported here, not: " + event);
    if (!g_run.expectStatus.empty() && event != "status " + g_run.expectStatus + " hold 50")
        violate("status \"" + g_run.expectStatus +
                "\" held 50 ticks should follow its log text, not: " + event);
    g_run.expectLog.clear();
    g_run.expectStatus.clear();
    const size_t hold = event.rfind(" hold ");
    if (log != "\x01") {
        onLog(log);
    } else if (event.compare(0, 5, "type ") == 0) {
        if (event.size() > 5 && event.substr(5) != g_run.identifiedName)
            violate("the type label shows another name than the adapter's");
    } else if (event.compare(0, 6, "label ") == 0) {
        const char *text = event.c_str() + 8;
        if (*text && !matches(event[6] == '0' ? "Ver. %02X.%02X" : "COM%u", text))
            violate("an unknown label text");
    } else if (event.compare(0, 7, "status ") == 0) {
        const std::string text = event.substr(7, hold - 7), ticks = event.substr(hold + 6);
        bool known = (text == START_STATUS && ticks == "4294967295") || (text.empty() && ticks == "1");
        for (const auto &pair : FAILURE_PAIRS) known = known || (text == pair[1] && ticks == "50");
        known = known || (text == VERIFY_FAILED && ticks == "50");
        if (!known) violate("an unknown status text or hold");
    } else if (event.compare(0, 9, "progress ") == 0) {
        if (atoi(event.c_str() + 9) < 1 || atoi(event.c_str() + 9) > 256)
            violate("a progress position out of range");
    } else if (event == "save dialog" || event == "open dialog") {
        if (event[0] == 's' ? g_run.op != OP_READ || g_run.blocks != 128 : g_run.op != OP_WRITE)
            violate("a file dialog outside its operation's step");
    } else if (event.compare(0, 6, "fatal ") == 0) {
        violate("a fatal error");
    }
}

FileResult hLoadImageFile(void *context, const wchar_t *path, uint8_t *image) {
    static const char *const TEXTS[] = {WRITE_STEP, "Can't open file!\r\n", "Invalid file size!\r\n",
                                        "Can't read file!\r\n"};
    if (g_run.op != OP_WRITE || g_run.reported) violate("a file loaded outside a Write");
    const FileResult result = g_innerHost->loadImageFile(context, path, image);
    note(format("the file loads: %d", int(result)));
    g_run.expectLog = TEXTS[result];
    if (result == FILE_OK) g_run.writeData.assign(image, image + MEMORY_SIZE);
    if (result == FILE_OK && g_run.host->files[path] != g_run.writeData)
        violate("the image loaded is not the file");
    return result;
}

// A saved file is exactly the board's memory that was read; a failed save leaves every file as
// it was and adds none.
FileResult hSaveImageFile(void *context, const wchar_t *path, const uint8_t *image) {
    static const char *const TEXTS[] = {RECONNECT, "Can't create file!\r\n", "Can't create file!\r\n",
                                        "Can't write file!\r\n"};
    if (g_run.op != OP_READ || g_run.reported || g_run.blocks != 128)
        violate("a file saved outside a Read's save step");
    if (memcmp(image, g_run.before.data(), MEMORY_SIZE) != 0)
        violate("the image saved is not the board's memory");
    const std::map<std::wstring, std::vector<uint8_t>> files = g_run.host->files;
    const FileResult result = g_innerHost->saveImageFile(context, path, image);
    note(format("the file saves: %d", int(result)));
    g_run.expectLog = TEXTS[result];
    g_run.saved = result == FILE_OK;
    if (g_run.saved && g_run.host->files[path] != std::vector<uint8_t>(image, image + MEMORY_SIZE))
        violate("the file saved is not the image");
    if (!g_run.saved && g_run.host->files != files) violate("a failed save changed the files");
    return result;
}

bool answerDialog(FileDialogKind, std::wstring &chosen) {
    const size_t index = size_t(g_run.dialogs++);
    const Answer a = index < g_run.answers.size() ? g_run.answers[index] : ANSWER_CANCEL;
    note(std::string("the user answers: ") + ANSWER_NAMES[a]);
    fireAnchored(IN_DIALOG, SIM_READ, index);
    g_run.host->failSaves = g_run.host->failLoads = a == ANSWER_BROKEN;
    chosen = ANSWER_PATHS[a];
    if (a == ANSWER_CANCEL) g_run.expectLog = CANCELED;
    return a != ANSWER_CANCEL;
}

// Puts the watched library and window between the worker of `record` and its own.
void wrapWorker(RecordingHost &record) {
    static D2xxApi library;
    static Host host;
    record.sim.world.traceReads = false;
    record.sim.world.onCall = watchLibrary;
    record.watch = watchWindow;
    record.answerDialog = answerDialog;
    library = campaignLibrary();  // anew: a world may take the optional entries out
    g_inner = record.worker.link.d2xx;
    record.worker.link.d2xx = &library;
    host = *(g_innerHost = record.worker.host);
    host.loadImageFile = hLoadImageFile;
    host.saveImageFile = hSaveImageFile;
    record.worker.host = &host;
}

}  // namespace campaign
