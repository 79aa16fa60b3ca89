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
    return error = "\"" + text + "\" is not a number from 0 to " + std::to_string(max), false;
}

bool arity(const Tokens &t, size_t count, std::string &error) {
    if (t.size() == count) return true;
    error = "\"" + t[0] + "\" takes " + std::to_string(count - 1) + " value(s)";
    return false;
}

// The parsers of a setting's values: `text` to a number (up to `max` where one is given), or false
// with `error`. `word` is the setting's own.
typedef const std::string &Text;
typedef bool (*ValueParser)(Text word, Text text, uint32_t max, uint32_t &out, std::string &error);

bool decimal(Text, Text text, uint32_t max, uint32_t &out, std::string &e) { return number(text, max, out, e); }

// A board address or a mask of its lines.
bool hex(Text, Text text, uint32_t max, uint32_t &out, std::string &error) {
    if (parseNumber(text, 16, max, out)) return true;
    char limit[8];
    snprintf(limit, sizeof limit, "%X", unsigned(max));
    return error = "\"" + text + "\" is not a hexadecimal number from 0 to " + limit, false;
}
// As the first value, these take "off" alone too: it switches the setting off and parses nothing.
bool decimalOrOff(Text w, Text t, uint32_t max, uint32_t &out, std::string &e) { return decimal(w, t, max, out, e); }
bool hexOrOff(Text w, Text t, uint32_t max, uint32_t &out, std::string &e) { return hex(w, t, max, out, e); }

bool onOff(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    out = text == "on" || text == "yes";
    if (out || text == "off" || text == "no") return true;
    return error = "expected on or off, not \"" + text + "\"", false;
}

// The word as it stands, for the setter to read; `words`: any number of them.
bool text(Text, Text, uint32_t, uint32_t &, std::string &) { return true; }
bool words(Text, Text, uint32_t, uint32_t &, std::string &) { return true; }

// "04036D20" or "0403/6D20".
bool usbId(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    const size_t slash = text.find('/');
    uint32_t vendor, product;
    if (slash == std::string::npos ? parseNumber(text, 16, 0xFFFFFFFF, out) && text.size() == 8
                                   : parseNumber(text.substr(0, slash), 16, 0xFFFF, vendor) &&
                                         parseNumber(text.substr(slash + 1), 16, 0xFFFF, product)) {
        if (slash != std::string::npos) out = vendor << 16 | product;
        return true;
    }
    return error = "\"" + text + "\" is not a USB id (04036010 or 0403/6010)", false;
}

// "01.02": major and minor as two hexadecimal digits each, as the program shows them.
bool version(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    uint32_t major, minor;
    if (text.size() == 5 && text[2] == '.' && parseNumber(text.substr(0, 2), 16, 0xFF, major) &&
        parseNumber(text.substr(3), 16, 0xFF, minor))
        return out = major << 8 | minor, true;
    return error = "\"" + text + "\" is not a version like 01.02", false;
}

// In the order of SimVersionReply.
bool replyMode(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    static const char *const modes[] = {"normal", "silent", "short", "wrong-third", "long"};
    for (uint32_t m = 0; m < 5; ++m)
        if (text == modes[m]) return out = m, true;
    return error = "unknown reply mode \"" + text + "\"", false;
}

// A number, or none: -1.
bool comPort(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    if (text == "none") return out = uint32_t(-1), true;
    return number(text, 0x7FFFFFFF, out, error);
}

bool channel(Text, Text text, uint32_t, uint32_t &out, std::string &error) {
    out = text == "B" || text == "b";
    if (out || text == "A" || text == "a") return true;
    return error = "expected channel A or B, not \"" + text + "\"", false;
}

bool listed(Text word, Text text, uint32_t, uint32_t &out, std::string &error) {
    if (text == "listed" || text == "unlisted") return out = text == "listed", true;
    return error = word + " takes listed or unlisted", false;
}

// Once 1, always -1.
bool onceAlways(Text word, Text text, uint32_t, uint32_t &out, std::string &error) {
    if (text == "once" || text == "always") return out = text == "once" ? 1 : uint32_t(-1), true;
    return error = word + " takes a word and once or always", false;
}

struct Value {
    ValueParser parse;  // null: no more values
    uint32_t max;
};

// A setting line as parsed: its words, and each value as a number.
struct Parsed {
    const Tokens &words;
    bool off;  // the line was "WORD off" of a setting that takes it: every value is 0
    uint32_t n[3];
};

// A setter that cannot fail.
#define SETS(...) \
    [](ScenarioAdapter &a, const Parsed &v, std::string &) { __VA_ARGS__; return true; }

enum When { AT_START, LIVE };  // LIVE: may be set while the program runs too

// One adapter setting: its word, when it may be set, what follows the word, and what it sets.
struct Setting {
    const char *word;
    When when;
    Value values[3];
    bool (*set)(ScenarioAdapter &a, const Parsed &v, std::string &error);
};

// A block, word or address that "off" makes -1. Off, the row's other values are 0.
int indexOrOff(const Parsed &v) { return v.off ? -1 : int(v.n[0]); }

// "memory fill HH", "memory random SEED", "memory file PATH".
bool setMemory(ScenarioAdapter &a, const Parsed &v, std::string &error) {
    const std::string &how = v.words[1], &what = v.words[2];
    uint32_t n = 0;
    if (how == "fill" && !parseNumber(what, 16, 0xFF, n)) return error = "fill takes a hex byte", false;
    if (how == "fill") return a.memoryKind = MEMORY_FILL, a.fillByte = uint8_t(n), true;
    if (how == "random")
        return number(what, 0xFFFFFFFF, a.seed, error) && (a.memoryKind = MEMORY_RANDOM, true);
    if (how == "file") return a.memoryKind = MEMORY_FILE, a.memoryFile = what, true;
    return error = "memory takes fill, random or file", false;
}

// "eeprom valid", "eeprom bad-checksum", "eeprom fill FFFF".
bool setEeprom(ScenarioAdapter &a, const Parsed &v, std::string &error) {
    const Tokens &t = v.words;
    if (t.size() == 2 && t[1] == "valid") return a.config.eeprom = SIM_EEPROM_VALID, true;
    if (t.size() == 2 && t[1] == "bad-checksum") return a.config.eeprom = SIM_EEPROM_BAD_CHECKSUM, true;
    uint32_t n = 0;
    if (t.size() == 3 && t[1] == "fill" && parseNumber(t[2], 16, 0xFFFF, n))
        return a.config.eeprom = SIM_EEPROM_FILL, a.config.eepromFill = uint16_t(n), true;
    return error = "eeprom takes valid, bad-checksum or fill HHHH", false;
}

// Each data line stuck at 0 or 1 adds to the others; "off" frees them all.
bool setStuckDataLine(ScenarioAdapter &a, const Parsed &v, std::string &) {
    SimMemoryFaults &m = a.board.memoryFaults;
    const uint8_t line = uint8_t(v.off ? 0xFF : 1u << v.n[0]);
    const bool high = !v.off && v.n[1];
    m.stuckDataLow = uint8_t(high || v.off ? m.stuckDataLow & ~line : m.stuckDataLow | line);
    m.stuckDataHigh = uint8_t(high ? m.stuckDataHigh | line : m.stuckDataHigh & ~line);
    return true;
}

// Every setting of an adapter, said once; SCENARIO.md describes each (a test holds them together).
// Identity and memory are fixed at start; the board, the faults and the ports may change while the
// program runs. Block indexes are address / 128 for writes and address / 256 for reads.
const Setting SETTINGS[] = {
    {"usb-id", AT_START, {{usbId, 0}}, SETS(a.config.usbId = v.n[0])},
    {"product", AT_START, {{text, 0}}, SETS(a.config.product = v.words[1])},
    {"serial", AT_START, {{text, 0}}, SETS(a.config.serial = v.words[1])},
    {"manufacturer", AT_START, {{text, 0}}, SETS(a.config.manufacturer = v.words[1])},
    {"plugged", AT_START, {{onOff, 0}}, SETS(a.config.plugged = v.n[0])},
    {"eeprom", AT_START, {{words, 0}}, setEeprom},
    {"memory", AT_START, {{text, 0}, {text, 0}}, setMemory},
    {"com", LIVE, {{comPort, 0}, {comPort, 0}},
     SETS(a.config.comPortA = int32_t(v.n[0]), a.config.comPortB = int32_t(v.n[1]))},
    {"channel-a", LIVE, {{listed, 0}}, SETS(a.channels[0].listed = v.n[0])},
    {"channel-b", LIVE, {{listed, 0}}, SETS(a.channels[1].listed = v.n[0])},
    {"open-fails", LIVE, {{channel, 0}, {onOff, 0}}, SETS(a.channels[v.n[0]].openFails = v.n[1])},
    {"version", LIVE, {{version, 0}}, SETS(a.board.version = uint16_t(v.n[0]))},
    {"reply", LIVE, {{replyMode, 0}}, SETS(a.board.versionReply = SimVersionReply(v.n[0]))},
    {"power", LIVE, {{onOff, 0}}, SETS(a.board.powered = v.n[0])},
    {"wire-timing", LIVE, {{onOff, 0}}, SETS(a.board.wireTiming = v.n[0])},
    {"byte-interval", LIVE, {{decimal, 60000}}, SETS(a.board.byteIntervalMs = v.n[0])},
    {"chip", LIVE, {{onOff, 0}}, SETS(a.adapter.chip.on = v.n[0])},
    {"call-cost-us", LIVE, {{decimal, 1000000}}, SETS(a.adapter.chip.callCostUs = v.n[0])},
    {"board-delay-us", LIVE, {{decimal, 1000000}}, SETS(a.adapter.chip.boardDelayUs = v.n[0])},
    {"latency-timer-fails", LIVE, {{onOff, 0}},
     SETS(a.channels[0].failSetting = a.channels[1].failSetting = v.n[0] ? 4 : 0)},
    {"reenumerate-ms", LIVE, {{decimal, 600000}}, SETS(a.adapter.reenumerateMs = v.n[0])},
    {"refuse-write-block", LIVE, {{decimalOrOff, 255}},
     SETS(a.board.refuseWriteBlock = indexOrOff(v))},
    {"bad-checksum-read-block", LIVE, {{decimalOrOff, 127}},
     SETS(a.board.badChecksumReadBlock = indexOrOff(v))},
    {"truncate-read-block", LIVE, {{decimalOrOff, 127}, {decimal, 256}},
     SETS(a.board.truncateReadBlock = indexOrOff(v), a.board.truncateAfterBytes = int(v.n[1]))},
    {"unplug-at-block-command", LIVE, {{decimalOrOff, 0x7FFFFFFF}},
     SETS(a.board.unplugAtBlockCommand = indexOrOff(v))},
    {"drop-write-block", LIVE, {{decimalOrOff, 255}},
     SETS(a.board.memoryFaults.dropWriteBlock = indexOrOff(v))},
    {"ignore-address-lines", LIVE, {{hexOrOff, 0x7FFF}},
     SETS(a.board.memoryFaults.ignoredAddressLines = uint16_t(v.off ? 0 : v.n[0]))},
    {"stuck-bit", LIVE, {{hexOrOff, 0x7FFF}, {decimal, 7}, {decimal, 1}},
     SETS(a.board.memoryFaults.stuckAddress = indexOrOff(v),
          a.board.memoryFaults.stuckBit = uint8_t(v.n[1]), a.board.memoryFaults.stuckHigh = v.n[2])},
    {"stuck-data-line", LIVE, {{decimalOrOff, 7}, {decimal, 1}}, setStuckDataLine},
    {"unplug-at-eeprom-word", LIVE, {{decimalOrOff, 63}},
     SETS(a.adapter.unplugAtEepromWord = indexOrOff(v))},
    {"eeprom-fail-at-word", LIVE, {{decimalOrOff, 63}},
     SETS(a.adapter.eepromFailAtWord = indexOrOff(v))},
    {"eeprom-drop-word", LIVE, {{decimalOrOff, 63}, {onceAlways, 0}},
     SETS(a.adapter.eepromDropWord = indexOrOff(v), a.adapter.eepromDropWrites = int32_t(v.n[1]))},
    {"read-ee-fails", LIVE, {{onOff, 0}}, SETS(a.adapter.readEeFails = v.n[0])},
    {"cycle-port-fails", LIVE, {{onOff, 0}}, SETS(a.adapter.cyclePortFails = v.n[0])},
};

// One adapter setting line. `runtime`: the program is running, so only LIVE settings.
bool applySetting(ScenarioAdapter &a, const Tokens &t, bool runtime, std::string &error) {
    const std::string &w = t[0];
    for (const Setting &s : SETTINGS) {
        if (w != s.word) continue;
        if (runtime && s.when == AT_START)
            return error = "\"" + w + "\" can only be set at start", false;
        const ValueParser first = s.values[0].parse;
        Parsed v = {t, (first == decimalOrOff || first == hexOrOff) && t.size() == 2 && t[1] == "off", {}};
        size_t count = 0;
        while (count < 3 && s.values[count].parse) ++count;
        if (!v.off && first != words) {
            if (!arity(t, count + 1, error)) return false;
            for (size_t i = 0; i < count; ++i)
                if (!s.values[i].parse(w, t[i + 1], s.values[i].max, v.n[i], error)) return false;
        }
        return s.set(a, v, error);
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
    uint32_t adapter;
    if (!number(t[1], 255, adapter, error)) return false;
    out.adapter = int(adapter);
    out.setting.clear();
    if (w == "unplug" || w == "plug") {
        out.kind = w == "unplug" ? Command::UNPLUG : Command::PLUG;
        return arity(t, 2, error);
    }
    if (w != "power" && w != "reply" && w != "set") return error = "unknown command \"" + w + "\"", false;
    out.kind = Command::SET;
    if (w != "set") out.setting = {w};  // "power N ..." is "set N power ..."
    out.setting.insert(out.setting.end(), t.begin() + 2, t.end());
    if (out.setting.empty()) return error = "set needs a setting", false;
    ScenarioAdapter scratch;
    return applySetting(scratch, out.setting, true, error);
}

// Hands a scenario adapter's settings to the model: they are the model's own records.
void takeOver(const ScenarioAdapter &s, SimAdapter &a) {
    static_cast<SimAdapterSettings &>(a) = s.adapter;
    static_cast<SimBoardSettings &>(a.board) = s.board;
    for (int ch = 0; ch < 2; ++ch) static_cast<SimChannelSettings &>(a.channels[ch]) = s.channels[ch];
    a.channels[0].comPort = s.config.comPortA;
    a.channels[1].comPort = s.config.comPortB;
}

// An adapter of a scenario before its settings: the model's, with the wire timed, as the stand-in
// runs in real time and no board answers faster than its wire.
ScenarioAdapter newAdapter() {
    ScenarioAdapter a;
    a.board.wireTiming = true;
    return a;
}

}  // namespace

Scenario defaultScenario() {
    Scenario s;
    s.adapters.push_back(newAdapter());
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
                out.adapters.push_back(newAdapter());
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

std::vector<std::string> scenarioSettingWords() {
    std::vector<std::string> words;
    for (const Setting &s : SETTINGS) words.push_back(s.word);
    return words;
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
        takeOver(s, a);
        uint8_t *memory = a.board.memory;
        const size_t size = sizeof a.board.memory;
        if (s.memoryKind == MEMORY_RANDOM) scenarioRandomMemory(s.seed, memory, size);
        else memset(memory, s.memoryKind == MEMORY_FILL ? s.fillByte : 0xFF, size);
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
        takeOver(world.live[size_t(c.adapter)], simAdapter(world.sim, c.adapter));
        break;
    }
    return true;
}
