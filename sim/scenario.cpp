// Scenario files: parsing, building the simulated world from them, and the run-time commands.
#include "sim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

typedef std::vector<std::string> Tokens;

// Words separated by blanks; "double quotes" keep blanks inside one word; # starts a comment.
bool tokenize(const std::string &line, Tokens &out, std::string &error) {
    out.clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            const size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return error = "unterminated quote", false;
            out.push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r')
                ++end;
            out.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

bool parseNumber(const std::string &text, int base, uint32_t max, uint32_t &out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = strtoull(text.c_str(), &end, base);
    if (errno || *end || v > max) return false;
    out = uint32_t(v);
    return true;
}

bool number(const std::string &text, uint32_t max, uint32_t &out, std::string &error) {
    if (parseNumber(text, 10, max, out)) return true;
    error = "\"" + text + "\" is not a number from 0 to " + std::to_string(max);
    return false;
}

bool index(const std::string &text, uint32_t max, int &out, std::string &error) {
    uint32_t v;
    if (!number(text, max, v, error)) return false;
    out = int(v);
    return true;
}

// A board address or a mask of its lines: hexadecimal, up to `max`.
bool hexWord(const std::string &text, uint32_t max, uint16_t &out, std::string &error) {
    uint32_t v;
    if (parseNumber(text, 16, max, v)) return out = uint16_t(v), true;
    char limit[8];
    snprintf(limit, sizeof limit, "%X", unsigned(max));
    error = "\"" + text + "\" is not a hexadecimal number from 0 to " + limit;
    return false;
}

bool onOff(const std::string &text, bool &out, std::string &error) {
    if (text == "on" || text == "yes") return out = true, true;
    if (text == "off" || text == "no") return out = false, true;
    error = "expected on or off, not \"" + text + "\"";
    return false;
}

bool channelLetter(const std::string &text, int &out, std::string &error) {
    if (text == "A" || text == "a") return out = 0, true;
    if (text == "B" || text == "b") return out = 1, true;
    error = "expected channel A or B, not \"" + text + "\"";
    return false;
}

// "04036D20" or "0403/6D20".
bool usbId(const std::string &text, uint32_t &out, std::string &error) {
    const size_t slash = text.find('/');
    uint32_t vendor, product;
    if (slash == std::string::npos ? parseNumber(text, 16, 0xFFFFFFFF, out) && text.size() == 8
                                   : parseNumber(text.substr(0, slash), 16, 0xFFFF, vendor) &&
                                         parseNumber(text.substr(slash + 1), 16, 0xFFFF, product)) {
        if (slash != std::string::npos) out = vendor << 16 | product;
        return true;
    }
    error = "\"" + text + "\" is not a USB id (04036010 or 0403/6010)";
    return false;
}

// "01.02": major and minor as two hexadecimal digits each, as the program shows them.
bool boardVersion(const std::string &text, uint16_t &out, std::string &error) {
    uint32_t major, minor;
    if (text.size() == 5 && text[2] == '.' && parseNumber(text.substr(0, 2), 16, 0xFF, major) &&
        parseNumber(text.substr(3), 16, 0xFF, minor)) {
        out = uint16_t(major << 8 | minor);
        return true;
    }
    error = "\"" + text + "\" is not a version like 01.02";
    return false;
}

bool replyMode(const std::string &text, SimVersionReply &out, std::string &error) {
    static const struct {
        const char *name;
        SimVersionReply mode;
    } modes[] = {{"normal", SIM_REPLY_NORMAL},
                 {"silent", SIM_REPLY_SILENT},
                 {"short", SIM_REPLY_SHORT},
                 {"wrong-third", SIM_REPLY_WRONG_THIRD},
                 {"long", SIM_REPLY_LONG}};
    for (const auto &m : modes)
        if (text == m.name) return out = m.mode, true;
    error = "unknown reply mode \"" + text + "\"";
    return false;
}

bool comPort(const std::string &text, int32_t &out, std::string &error) {
    if (text == "none") return out = -1, true;
    uint32_t v;
    if (!number(text, 0x7FFFFFFF, v, error)) return false;
    out = int32_t(v);
    return true;
}

bool arity(const Tokens &t, size_t count, std::string &error) {
    if (t.size() == count) return true;
    error = "\"" + t[0] + "\" takes " + std::to_string(count - 1) + " value(s)";
    return false;
}

// "eeprom valid", "eeprom bad-checksum", "eeprom fill FFFF".
bool eepromContent(SimAdapterConfig &config, const Tokens &t, std::string &error) {
    if (t.size() == 2 && t[1] == "valid") return config.eeprom = SIM_EEPROM_VALID, true;
    if (t.size() == 2 && t[1] == "bad-checksum") return config.eeprom = SIM_EEPROM_BAD_CHECKSUM, true;
    uint32_t v;
    if (t.size() == 3 && t[1] == "fill" && parseNumber(t[2], 16, 0xFFFF, v)) {
        config.eeprom = SIM_EEPROM_FILL;
        config.eepromFill = uint16_t(v);
        return true;
    }
    return error = "eeprom takes valid, bad-checksum or fill HHHH", false;
}

// One adapter setting line. `runtime`: only what can change while the program runs (the board,
// the faults and the ports); identity and memory are fixed at start.
bool applySetting(ScenarioAdapter &a, const Tokens &t, bool runtime, std::string &error) {
    const std::string &w = t[0];
    if (w == "usb-id" || w == "product" || w == "serial" || w == "manufacturer" ||
        w == "memory" || w == "plugged" || w == "eeprom") {
        if (runtime) return error = "\"" + w + "\" can only be set at start", false;
        if (w == "eeprom") return eepromContent(a.config, t, error);
        if (w == "usb-id") return arity(t, 2, error) && usbId(t[1], a.config.usbId, error);
        if (w == "product") return arity(t, 2, error) && (a.config.product = t[1], true);
        if (w == "serial") return arity(t, 2, error) && (a.config.serial = t[1], true);
        if (w == "manufacturer") return arity(t, 2, error) && (a.config.manufacturer = t[1], true);
        if (w == "plugged") return arity(t, 2, error) && onOff(t[1], a.plugged, error);
        if (!arity(t, 3, error)) return false;
        uint32_t v;
        if (t[1] == "fill") {
            if (!parseNumber(t[2], 16, 0xFF, v)) return error = "fill takes a hex byte", false;
            a.memoryKind = MEMORY_FILL;
            a.fillByte = uint8_t(v);
            return true;
        }
        if (t[1] == "random") {
            if (!number(t[2], 0xFFFFFFFF, a.seed, error)) return false;
            a.memoryKind = MEMORY_RANDOM;
            return true;
        }
        if (t[1] == "file") {
            a.memoryKind = MEMORY_FILE;
            a.memoryFile = t[2];
            return true;
        }
        return error = "memory takes fill, random or file", false;
    }
    if (w == "com") {
        return arity(t, 3, error) && comPort(t[1], a.config.comPortA, error) &&
               comPort(t[2], a.config.comPortB, error);
    }
    if (w == "channel-a" || w == "channel-b") {
        if (!arity(t, 2, error)) return false;
        const int ch = w == "channel-a" ? 0 : 1;
        if (t[1] == "listed") return a.listed[ch] = true, true;
        if (t[1] == "unlisted") return a.listed[ch] = false, true;
        return error = w + " takes listed or unlisted", false;
    }
    if (w == "open-fails") {
        int ch;
        if (!arity(t, 3, error) || !channelLetter(t[1], ch, error)) return false;
        return onOff(t[2], a.openFails[ch], error);
    }
    if (w == "version") return arity(t, 2, error) && boardVersion(t[1], a.version, error);
    if (w == "reply") return arity(t, 2, error) && replyMode(t[1], a.reply, error);
    if (w == "power") return arity(t, 2, error) && onOff(t[1], a.powered, error);
    if (w == "wire-timing") return arity(t, 2, error) && onOff(t[1], a.wireTiming, error);
    if (w == "byte-interval") return arity(t, 2, error) && number(t[1], 60000, a.byteIntervalMs, error);
    if (w == "chip") return arity(t, 2, error) && onOff(t[1], a.chip.on, error);
    if (w == "call-cost-us") return arity(t, 2, error) && number(t[1], 1000000, a.chip.callCostUs, error);
    if (w == "board-delay-us") return arity(t, 2, error) && number(t[1], 1000000, a.chip.boardDelayUs, error);
    if (w == "latency-timer-fails") return arity(t, 2, error) && onOff(t[1], a.latencyTimerFails, error);
    if (w == "reenumerate-ms") return arity(t, 2, error) && number(t[1], 600000, a.reenumerateMs, error);
    // Faults: block indexes are address / 128 for writes and address / 256 for reads; -1 is off.
    struct Fault {
        const char *name;
        int ScenarioAdapter::*field;
        uint32_t max;
    };
    static const Fault faults[] = {
        {"refuse-write-block", &ScenarioAdapter::refuseWriteBlock, 255},
        {"bad-checksum-read-block", &ScenarioAdapter::badChecksumReadBlock, 127},
        {"unplug-at-block-command", &ScenarioAdapter::unplugAtBlockCommand, 0x7FFFFFFF},
        {"unplug-at-eeprom-word", &ScenarioAdapter::unplugAtEepromWord, 63},
        {"eeprom-fail-at-word", &ScenarioAdapter::eepromFailAtWord, 63},
    };
    for (const Fault &f : faults) {
        if (w != f.name) continue;
        if (!arity(t, 2, error)) return false;
        if (t[1] == "off") return a.*f.field = -1, true;
        return index(t[1], f.max, a.*f.field, error);
    }
    if (w == "read-ee-fails") return arity(t, 2, error) && onOff(t[1], a.readEeFails, error);
    if (w == "cycle-port-fails") return arity(t, 2, error) && onOff(t[1], a.cyclePortFails, error);
    if (w == "eeprom-drop-word") {
        if (t.size() == 2 && t[1] == "off") return a.eepromDropWord = -1, true;
        if (!arity(t, 3, error) || !index(t[1], 63, a.eepromDropWord, error)) return false;
        if (t[2] == "once") return a.eepromDropWrites = 1, true;
        if (t[2] == "always") return a.eepromDropWrites = -1, true;
        return error = "eeprom-drop-word takes a word and once or always", false;
    }
    SimMemoryFaults &m = a.memoryFaults;
    if (w == "drop-write-block") {
        if (t.size() == 2 && t[1] == "off") return m.dropWriteBlock = -1, true;
        return arity(t, 2, error) && index(t[1], 255, m.dropWriteBlock, error);
    }
    if (w == "ignore-address-lines") {
        if (t.size() == 2 && t[1] == "off") return m.ignoredAddressLines = 0, true;
        return arity(t, 2, error) && hexWord(t[1], 0x7FFF, m.ignoredAddressLines, error);
    }
    if (w == "stuck-bit") {
        if (t.size() == 2 && t[1] == "off") return m.stuckAddress = -1, true;
        uint16_t address = 0;
        int bit = 0, level = 0;
        if (!arity(t, 4, error) || !hexWord(t[1], 0x7FFF, address, error) || !index(t[2], 7, bit, error) ||
            !index(t[3], 1, level, error))
            return false;
        m.stuckAddress = address;
        m.stuckBit = uint8_t(bit);
        m.stuckHigh = level == 1;
        return true;
    }
    if (w == "stuck-data-line") {
        if (t.size() == 2 && t[1] == "off") return m.stuckDataLow = m.stuckDataHigh = 0, true;
        int bit = 0, level = 0;
        if (!arity(t, 3, error) || !index(t[1], 7, bit, error) || !index(t[2], 1, level, error))
            return false;
        const uint8_t line = uint8_t(1u << bit);
        m.stuckDataLow = uint8_t(level ? m.stuckDataLow & ~line : m.stuckDataLow | line);
        m.stuckDataHigh = uint8_t(level ? m.stuckDataHigh | line : m.stuckDataHigh & ~line);
        return true;
    }
    if (w == "truncate-read-block") {
        if (t.size() == 2 && t[1] == "off") return a.truncateReadBlock = -1, true;
        return arity(t, 3, error) && index(t[1], 127, a.truncateReadBlock, error) &&
               index(t[2], 256, a.truncateAfterBytes, error);
    }
    error = "unknown setting \"" + w + "\"";
    return false;
}

struct Command {
    enum Kind { UNPLUG, PLUG, SET } kind;
    int adapter;
    Tokens setting;  // SET: the setting line
};

// "unplug N", "plug N", "power N on|off", "reply N MODE", "set N SETTING ARGS...".
bool parseCommand(const Tokens &t, Command &out, std::string &error) {
    if (t.empty()) return error = "empty command", false;
    const std::string &w = t[0];
    if (t.size() < 2) return error = "\"" + w + "\" needs an adapter number", false;
    if (!index(t[1], 255, out.adapter, error)) return false;
    out.setting.clear();
    if (w == "unplug" || w == "plug") {
        out.kind = w == "unplug" ? Command::UNPLUG : Command::PLUG;
        return arity(t, 2, error);
    }
    if (w == "power" || w == "reply") {
        out.kind = Command::SET;
        out.setting = {w};
        out.setting.insert(out.setting.end(), t.begin() + 2, t.end());
    } else if (w == "set") {
        out.kind = Command::SET;
        out.setting.assign(t.begin() + 2, t.end());
        if (out.setting.empty()) return error = "set needs a setting", false;
    } else {
        return error = "unknown command \"" + w + "\"", false;
    }
    ScenarioAdapter scratch;
    return applySetting(scratch, out.setting, true, error);
}

// The settings that may change while the program runs, from the scenario record to the model.
void applyRuntimeSettings(const ScenarioAdapter &s, SimAdapter &a) {
    for (int ch = 0; ch < 2; ++ch) {
        a.channels[ch].listed = s.listed[ch];
        a.channels[ch].openFails = s.openFails[ch];
        a.channels[ch].failSetting = s.latencyTimerFails ? 4 : 0;
    }
    a.chip = s.chip;
    a.channels[0].comPort = s.config.comPortA;
    a.channels[1].comPort = s.config.comPortB;
    SimBoard &b = a.board;
    b.version = s.version;
    b.versionReply = s.reply;
    b.powered = s.powered;
    b.byteIntervalMs = s.byteIntervalMs;
    b.wireTiming = s.wireTiming;
    b.refuseWriteBlock = s.refuseWriteBlock;
    b.badChecksumReadBlock = s.badChecksumReadBlock;
    b.truncateReadBlock = s.truncateReadBlock;
    b.truncateAfterBytes = s.truncateAfterBytes;
    b.unplugAtBlockCommand = s.unplugAtBlockCommand;
    b.memoryFaults = s.memoryFaults;
    a.unplugAtEepromWord = s.unplugAtEepromWord;
    a.eepromFailAtWord = s.eepromFailAtWord;
    a.eepromDropWord = s.eepromDropWord;
    a.eepromDropWrites = s.eepromDropWrites;
    a.readEeFails = s.readEeFails;
    a.cyclePortFails = s.cyclePortFails;
    a.reenumerateMs = s.reenumerateMs;
}

}  // namespace

Scenario defaultScenario() {
    Scenario s;
    s.adapters.emplace_back();
    s.order.push_back({false, 0});
    return s;
}

bool parseScenario(const std::string &text, Scenario &out, std::string &error) {
    out = Scenario();
    std::vector<Command> commands;  // of the timed events, checked once every adapter is known
    std::vector<int> commandLines;
    size_t start = 0;
    for (int line = 1; start <= text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(start, end - start);
        start = end + 1;

        Tokens t;
        std::string why;
        bool ok = tokenize(raw, t, why);
        if (ok && !t.empty()) {
            const std::string &w = t[0];
            if (w == "adapter") {
                ok = arity(t, 1, why);
                out.order.push_back({false, out.adapters.size()});
                out.adapters.emplace_back();
            } else if (w == "foreign") {
                // foreign TYPE ID DESCRIPTION SERIAL
                ScenarioForeign f;
                ok = arity(t, 5, why) && number(t[1], 0xFFFFFFFF, f.type, why);
                if (ok && !parseNumber(t[2], 16, 0xFFFFFFFF, f.id))
                    ok = false, why = "\"" + t[2] + "\" is not a hexadecimal id";
                if (ok) {
                    f.description = t[3];
                    f.serial = t[4];
                    out.order.push_back({true, out.foreign.size()});
                    out.foreign.push_back(f);
                }
            } else if (w == "output") {
                ok = arity(t, 2, why);
                if (ok) out.outputDir = t[1];
            } else if (w == "at") {
                uint32_t ms = 0;
                Command c;
                ok = t.size() >= 3 && number(t[1], 0xFFFFFFFF, ms, why);
                if (t.size() < 3) why = "at takes a time and a command";
                if (ok) ok = parseCommand(Tokens(t.begin() + 2, t.end()), c, why);
                if (ok) {
                    std::string command;
                    for (size_t i = 2; i < t.size(); ++i) {
                        if (i > 2) command += ' ';
                        command += t[i].find(' ') == std::string::npos ? t[i] : '"' + t[i] + '"';
                    }
                    out.events.push_back({ms, command, line});
                    commands.push_back(c);
                    commandLines.push_back(line);
                }
            } else if (out.adapters.empty()) {
                ok = false;
                why = "\"" + w + "\" comes before any adapter line";
            } else {
                ok = applySetting(out.adapters.back(), t, false, why);
            }
        }
        if (!ok) {
            error = "line " + std::to_string(line) + ": " + why;
            return false;
        }
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        if (size_t(commands[i].adapter) >= out.adapters.size()) {
            error = "line " + std::to_string(commandLines[i]) + ": no adapter " +
                    std::to_string(commands[i].adapter);
            return false;
        }
    }
    std::stable_sort(out.events.begin(), out.events.end(),
                     [](const ScenarioEvent &a, const ScenarioEvent &b) { return a.atMs < b.atMs; });
    return true;
}

void scenarioRandomMemory(uint32_t seed, uint8_t *memory, size_t size) {
    uint32_t x = seed ? seed : 0x9E3779B9u;  // xorshift32 has no zero state
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        memory[i] = uint8_t(x >> 24);
    }
}

bool buildScenarioWorld(ScenarioWorld &world, const Scenario &scenario, const SimClock &clock,
                        const std::string &baseDir, ScenarioFileReader readFile, std::string &error) {
    Sim &sim = world.sim;
    simReset(sim, clock);
    world.live.clear();
    for (const ScenarioListItem &item : scenario.order) {
        if (item.foreign) {
            const ScenarioForeign &f = scenario.foreign[item.index];
            simAddForeignDevice(sim, f.type, f.id, f.description.c_str(), f.serial.c_str());
            continue;
        }
        const ScenarioAdapter &s = scenario.adapters[item.index];
        SimAdapter &a = simAdapter(sim, simAddAdapter(sim, s.config));
        applyRuntimeSettings(s, a);
        a.plugged = s.plugged;
        uint8_t *memory = a.board.memory;
        const size_t size = sizeof a.board.memory;
        if (s.memoryKind == MEMORY_RANDOM) {
            scenarioRandomMemory(s.seed, memory, size);
        } else {
            memset(memory, s.memoryKind == MEMORY_FILL ? s.fillByte : 0xFF, size);
        }
        if (s.memoryKind == MEMORY_FILE) {
            const bool absolute = !s.memoryFile.empty() &&
                                  (s.memoryFile[0] == '/' || s.memoryFile[0] == '\\' ||
                                   (s.memoryFile.size() > 1 && s.memoryFile[1] == ':'));
            const std::string path = absolute ? s.memoryFile : baseDir + s.memoryFile;
            std::vector<uint8_t> bytes;
            if (!readFile || !readFile(path, bytes)) {
                error = "cannot read memory file \"" + path + "\"";
                simReset(sim, clock);
                world.live.clear();
                return false;
            }
            memcpy(memory, bytes.data(), std::min(size, bytes.size()));
        }
        world.live.push_back(s);
    }
    return true;
}

bool runScenarioCommand(ScenarioWorld &world, const std::string &line, std::string &error) {
    Tokens t;
    Command c;
    if (!tokenize(line, t, error) || !parseCommand(t, c, error)) return false;
    if (size_t(c.adapter) >= world.live.size()) {
        error = "no adapter " + std::to_string(c.adapter);
        return false;
    }
    switch (c.kind) {
    case Command::UNPLUG: simUnplug(world.sim, c.adapter); break;
    case Command::PLUG: simPlug(world.sim, c.adapter); break;
    case Command::SET:
        if (!applySetting(world.live[size_t(c.adapter)], c.setting, true, error)) return false;
        applyRuntimeSettings(world.live[size_t(c.adapter)], simAdapter(world.sim, c.adapter));
        break;
    }
    return true;
}
