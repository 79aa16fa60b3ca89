// Scenario files for the simulator: the attached devices, the board, its faults and timed events,
// as a small line-based text (the format is described in sim/dll/SCENARIO.md).
//
// Parsing is pure; building the world and running a command act on the simulator (sim.h). The
// FTD2XX.dll stand-in reads a scenario when it starts and runs commands from the scenario's timed
// events and from its control file while the program runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim.h"

enum ScenarioMemoryKind {
    MEMORY_FILL,    // every byte `fillByte`
    MEMORY_RANDOM,  // a reproducible pseudo-random pattern from `seed`
    MEMORY_FILE,    // the bytes of `file`; a shorter file leaves the rest 0xFF
};

// An adapter as a scenario describes it, in the simulator's own records: the config it is attached
// with, and the settings the model takes over whole at start and after every `set` command.
struct ScenarioAdapter {
    SimAdapterConfig config;  // its COM ports may change while the program runs too
    SimAdapterSettings adapter;
    SimBoardSettings board;
    SimChannelSettings channels[2];
    ScenarioMemoryKind memoryKind = MEMORY_FILL;
    uint8_t fillByte = 0xFF;
    uint32_t seed = 1;
    std::string memoryFile;  // as written in the scenario; relative to the scenario's folder
};

struct ScenarioForeign {
    uint32_t type;
    uint32_t id;
    std::string description;
    std::string serial;
};

// One record of the device list, in scenario order: an adapter's two channels or a foreign device.
struct ScenarioListItem {
    bool foreign;
    size_t index;  // into `adapters` or `foreign`
};

struct ScenarioEvent {
    uint32_t atMs;  // after the stand-in was loaded
    std::string command;
    int line;
};

struct Scenario {
    std::vector<ScenarioAdapter> adapters;
    std::vector<ScenarioForeign> foreign;
    std::vector<ScenarioListItem> order;
    std::vector<ScenarioEvent> events;  // sorted by time; equal times keep file order
    std::string outputDir;              // empty: the scenario file's folder
};

// The world the stand-in shows without a scenario file: one current adapter, board 01.02,
// COM5 and COM6, memory all 0xFF.
Scenario defaultScenario();

// Parses a whole scenario. False with `error` ("line N: ...") on the first line it does not
// understand; `out` then holds whatever was parsed before it.
bool parseScenario(const std::string &text, Scenario &out, std::string &error);

// Reads a file named in a scenario (already resolved against its folder). False when it cannot.
typedef bool (*ScenarioFileReader)(const std::string &path, std::vector<uint8_t> &bytes);

// A simulator built from a scenario, with each adapter's settings as the scenario and later `set`
// commands left them, so that a command changes one setting and keeps the others.
struct ScenarioWorld {
    Sim sim;
    std::vector<ScenarioAdapter> live;
};

// Resets the simulator on `clock` and attaches what the scenario lists. `baseDir` (with its
// trailing separator, or empty) resolves relative memory file names. False with `error` when a
// memory file cannot be read; the world is then left empty.
bool buildScenarioWorld(ScenarioWorld &world, const Scenario &scenario, const SimClock &clock,
                        const std::string &baseDir, ScenarioFileReader readFile, std::string &error);

// Runs one command of a timed event or of the control file against the current world:
// "unplug N", "plug N", "power N on|off", "reply N MODE", "set N SETTING ARGS...".
// False with `error` when the command is malformed or names no attached adapter.
bool runScenarioCommand(ScenarioWorld &world, const std::string &command, std::string &error);

// The words of the adapter settings, in the order of their table.
std::vector<std::string> scenarioSettingWords();

// The reproducible pattern of `memory random SEED`.
void scenarioRandomMemory(uint32_t seed, uint8_t *memory, size_t size);
