// The connection loop against the simulator and the recording host, in virtual time.
#include <gtest/gtest.h>

#include "link/link.h"
#include "sim/sim.h"
#include "tests/support/recording_host.h"
#include "worker/worker.h"

namespace {

using Texts = std::vector<std::string>;

class WorkerConnection : public ::testing::Test {
protected:
    RecordingHost &host = installRecordingHost();
    void TearDown() override { EXPECT_FALSE(host.hitLimit) << "the worker ran into the test's time limit"; }
    // Runs the worker until the script stops it.
    void run() { EXPECT_EQ(workerMain(), 0); }
    // Stops the worker `afterMs` after a log text appeared, so what follows the text is seen.
    void stopAfter(const std::string &text, uint64_t afterMs = 100) {
        host.whenLog(text, [this, afterMs] { host.atMs(host.ms() + afterMs, [this] { host.stop = true; }); });
    }
};

const Texts FIRST_CONNECTION = {
    "Searching for device...\r\n",
    "Found Kesta OBD1 EMU [0403/6010].\r\nConnecting... ",
    "Ok.",
    "\r\n",
    "Ostrich Ver. 01.02.\r\n",
    "RTP port:\t\tCOM5.\r\n",
    "Datalog port:\tCOM6.\r\n",
    "---\r\n",
    "Waiting for your choice...",
};

TEST_F(WorkerConnection, FirstConnectionReportsAdapterBoardAndPorts) {
    simAddAdapter();
    stopAfter("Waiting for your choice...");
    run();
    EXPECT_EQ(host.logTexts, FIRST_CONNECTION);
    EXPECT_EQ(host.typeLabel, "KESTA OBD1 EMU");
    EXPECT_EQ(host.labels[LABEL_OSTRICH_VERSION], "Ver. 01.02");
    EXPECT_EQ(host.labels[LABEL_RTP_PORT], "COM5");
    EXPECT_EQ(host.labels[LABEL_DATA_PORT], "COM6");
    EXPECT_TRUE(host.buttons[OP_ERASE] && host.buttons[OP_READ] && host.buttons[OP_WRITE]);
    EXPECT_FALSE(host.buttons[OP_UPDATE]);
    EXPECT_EQ(g_appState.deviceFound.load(), 1);
}

}  // namespace
