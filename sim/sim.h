// The simulated adapter and board: a byte-level model of the dual-channel adapter, the
// emulator board behind channel A and the adapter's configuration EEPROM (its codec in
// sim_eeprom.h), behind the D2XX seam. Its rooms: sim_attach.cpp (the adapters and their
// attachment), sim_board.cpp (the board), sim_chip.cpp (the receive path and timing) and
// sim_library.cpp (the entry points and the trace); this one header shows the whole record tree,
// which tests and the stand-in reach into everywhere.
//
// It is what the program relies on and no more. It refuses what it does not know: a malformed or
// unknown packet counts as a protocol error (tests assert there are none) and gets no reply.
// Time comes from the injected clock: virtual in native tests, real in the DLL stand-in.
// Not thread-safe: one caller at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/d2xx.h"
#include "sim/sim_eeprom.h"

// Microseconds, so the wire can be modelled byte by byte. `context` is handed to both calls.
struct SimClock {
    void *context;
    uint64_t (*nowUs)(void *context);
    void (*sleepUs)(void *context, uint64_t us);
};

// How the board answers "VV".
enum SimVersionReply {
    SIM_REPLY_NORMAL,       // major, minor, 'O'
    SIM_REPLY_SILENT,       // nothing
    SIM_REPLY_SHORT,        // major, minor
    SIM_REPLY_WRONG_THIRD,  // major, minor, 'N'
    SIM_REPLY_LONG,         // major, minor, 'O' and 100 more bytes
};

// Faults of the board's memory that acknowledge every block and keep something else, the kind a
// read-back finds.
struct SimMemoryFaults {
    int dropWriteBlock = -1;          // this block write is answered 0x4F and stored nowhere
    uint16_t ignoredAddressLines = 0;  // address bits that never reach the memory chip (0x4000:
                                       // 0x4000..0x7FFF land on 0x0000..0x3FFF; any mask)
    int stuckAddress = -1;            // the cell at this address has one bit stuck
    uint8_t stuckBit = 0;             // its bit number, 0..7
    bool stuckHigh = false;           // stuck at 1 rather than 0
    uint8_t stuckDataLow = 0;         // data lines that read 0 at every address (D0 = bit 0)
    uint8_t stuckDataHigh = 0;        // data lines that read 1 at every address
};

// How the board answers and what it does wrong: what a scenario may change while the program runs.
struct SimBoardSettings {
    bool powered = true;  // false: silent to every command
    uint16_t version = 0x0102;
    SimVersionReply versionReply = SIM_REPLY_NORMAL;
    // Faults. Block indexes are address / 128 for writes and address / 256 for reads.
    int refuseWriteBlock = -1;    // answered 0x3F instead of 0x4F
    int badChecksumReadBlock = -1;
    int truncateReadBlock = -1;   // this read answer stops after `truncateAfterBytes` bytes
    int truncateAfterBytes = 0;
    int unplugAtBlockCommand = -1;  // the adapter is unplugged when the n-th block command
                                    // (writes and reads together, counted from 0) arrives
    SimMemoryFaults memoryFaults;
    uint32_t byteIntervalMs = 0;  // each reply byte comes this long after the previous one
    bool wireTiming = false;      // model the wire: 115200 baud, 11 bits per byte, both ways
};

// Its settings are a base, so that a scenario hands them over in one assignment; the rest is state.
struct SimBoard : SimBoardSettings {
    uint8_t memory[32768] = {};

    // What happened.
    int blockCommands = 0;
    int protocolErrors = 0;
    std::string lastProtocolError;
    std::vector<uint8_t> pending;  // bytes received that do not yet make a whole command
};

// What a channel does when asked, as a scenario may change it while the program runs.
struct SimChannelSettings {
    bool listed = true;
    FT_STATUS comPortStatus = FT_OK;
    FT_STATUS deviceInfoStatus = FT_OK;
    bool openFails = false;
    int failSetting = 0;  // 1 baud rate, 2 data characteristics, 3 time-outs, 4 latency timer
};

// The settings as a base, as for the board.
struct SimChannel : SimChannelSettings {
    FT_DEVICE_LIST_INFO_NODE record;  // as the device list reports it; tests may edit it
    int32_t comPort = 0;              // from the adapter's config when it is attached

    // State.
    bool open = false;
    uint32_t openSerial = 0;  // part of the handle: a handle of an earlier open is stale
    uint32_t baudRate = 0, readTimeout = 0, writeTimeout = 0;
    uint8_t wordLength = 0, stopBits = 0, parity = 0;
    uint8_t latencyMs = 16;  // the chip's latency timer: 16 ms until the program sets it
    struct Pending {
        uint8_t byte;
        uint64_t at;  // clock time (us) from which the byte can be read
    };
    std::vector<Pending> rx;
    size_t rxHead = 0;
    // The chip model's receive buffer: the board's bytes, `at` their arrival, not yet sent to the
    // host in a packet.
    std::vector<Pending> chipBuffer;
    size_t chipHead = 0;
    uint64_t timerStart = 0;  // when the latency timer last restarted (us)
};

// The chip model: the adapter chip and its library on top of the wire. The board's bytes gather
// in the chip's buffer; a USB packet of up to 62 of them goes to the host as soon as 62 are
// buffered, or when the latency timer runs out, with whatever is buffered then (even nothing).
// The timer restarts at every packet, and a packet's bytes can be read SIM_HOST_DELAY_US after it
// is sent. Off, the board's bytes are readable as they come off the wire.
struct SimChipModel {
    bool on = false;
    uint32_t callCostUs = 20;      // every library call on the adapter takes at least this long
    uint32_t boardDelayUs = 500;   // the board's time to take in a command before it answers
};
constexpr uint32_t SIM_PACKET_DATA = 62;
constexpr uint64_t SIM_HOST_DELAY_US = 500;

// The adapter's own faults and timing, as a scenario may change them while the program runs.
struct SimAdapterSettings {
    SimChipModel chip;
    int eepromFailAtWord = -1;
    int unplugAtEepromWord = -1;
    // Writes of this word report success but store nothing, `eepromDropWrites` times (-1: always).
    int eepromDropWord = -1;
    int eepromDropWrites = 0;
    bool readEeFails = false;     // FT_ReadEE fails
    bool cyclePortFails = false;  // FT_CyclePort fails and the adapter stays as it enumerated
    uint32_t reenumerateMs = 1500;
};

// The settings as a base, as for the board.
struct SimAdapter : SimAdapterSettings {
    SimChannel channels[2];  // A, B
    SimBoard board;
    uint16_t eeprom[64] = {};
    bool plugged = true;
    bool cycling = false;
    uint64_t cycleStart = 0;
    uint64_t txFreeAt = 0;  // when channel A's transmit line is idle again (wire timing)
};

// What FT_GetDeviceInfoList reports, in order: a channel of an adapter or a record of a device
// that is not ours (adapter -1).
struct SimListEntry {
    int adapter;
    int channel;
    FT_DEVICE_LIST_INFO_NODE foreign;
};

// What the adapter's EEPROM holds when it is attached.
enum SimEepromContent {
    SIM_EEPROM_VALID,         // the identity of the config, with its checksum
    SIM_EEPROM_BAD_CHECKSUM,  // the same words with word 63 wrong: the chip comes up blank
    SIM_EEPROM_FILL,          // every word `eepromFill` (0xFFFF: erased): blank as well
};

struct SimAdapterConfig {
    SimEepromContent eeprom = SIM_EEPROM_VALID;
    uint16_t eepromFill = 0xFFFF;
    uint32_t usbId = 0x04036010;
    std::string manufacturer = "Quorvantide";
    std::string product = "KESTA OBD1 EMU";  // channels are product + " A" / " B"
    std::string serial = "KESTA";            // channels are serial + "A" / "B"
    int32_t comPortA = 5;
    int32_t comPortB = 6;
    bool plugged = true;  // attached at start; else it waits for `simPlug`
};

// The library's calls as the trace names them: SIM_OPEN for FT_OpenEx, and so on.
enum SimFn {
#define SIM_FN(name, member, tag, need, params, args) SIM_##tag,
    D2XX_ENTRIES(SIM_FN)
#undef SIM_FN
};
const char *simFnName(SimFn fn);  // the exported name

struct SimCall {
    SimFn fn;
    int adapter;  // -1: no adapter's handle
    int channel;  // 0 A, 1 B, -1 none
    FT_STATUS status;
    uint32_t arg[3];  // the call's numeric arguments (location, baud, mask, word, value...)
    std::vector<uint8_t> data;  // bytes written, or the byte read
    uint64_t time;  // us
    FT_HANDLE handle;  // FT_OpenEx: the handle given out; FT_Close: the handle closed; else null
};

struct Sim;

struct SimWorld {
    std::vector<SimAdapter> adapters;
    std::vector<SimListEntry> list;
    std::vector<SimCall> trace;
    bool traceReads = true;
    void (*onCall)(Sim &, const SimCall &) = nullptr;  // sees every call as it is traced
    void (*beforeCall)(Sim &) = nullptr;               // runs at the start of every call
    int openHandles = 0;
};

// One simulator: its world, its clock, and what it counts across resets. Whoever makes it owns
// it; nothing else in the process refers to it except through `simD2xx`.
struct Sim {
    SimWorld world;
    SimClock clock = {};
    uint32_t nextOpenSerial = 1;  // part of every handle, so a handle of an earlier open is stale
    uint64_t callStart = 0;       // when the library call in progress was made
};

// Starts an empty world (no device attached) on `clock`.
void simReset(Sim &sim, const SimClock &clock);
// The table of library entry points that drive `sim`. The vendor's calls carry no context, so the
// table drives the simulator it was asked for last: one at a time per process.
const D2xxApi *simD2xx(Sim &sim);

// Attaches an adapter (its two channel records are appended to the list) and returns its index.
// With an EEPROM other than SIM_EEPROM_VALID it is listed as its chip enumerates from it, blank.
int simAddAdapter(Sim &sim, const SimAdapterConfig &config = SimAdapterConfig());
SimAdapter &simAdapter(Sim &sim, int index);
// Appends a record of some other device.
void simAddForeignDevice(Sim &sim, uint32_t type, uint32_t id, const char *description, const char *serial);

void simUnplug(Sim &sim, int adapter);
// Plugging in enumerates the adapter: it is listed with the identity its EEPROM holds now.
void simPlug(Sim &sim, int adapter);

// What the board reads at `address`, its memory faults included.
uint8_t simBoardByte(const SimBoard &board, uint32_t address);
// Stores `byte` at `address` as the board's memory takes it.
void simBoardStore(SimBoard &board, uint32_t address, uint8_t byte);

// Bytes written to a channel of an adapter, in call order.
std::vector<std::vector<uint8_t>> simWrites(const Sim &sim, int adapter, int channel);
int simCount(const Sim &sim, SimFn fn);
