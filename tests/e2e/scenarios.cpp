// The table of end-to-end scenarios: each room of scenarios/ holds those of one concern.
#include "tests/e2e/scenarios.h"

namespace {

const Scenario SCENARIOS[] = {
    {"start_state", startState},
    {"first_connection", firstConnection},
    {"default_world", defaultWorld},
    {"close_while_waiting", closeWhileWaiting},
    {"erase", erase},
    {"read_non_ascii_path", readNonAsciiPath},
    {"write", write},
    {"write_invalid_size", writeInvalidSize},
    {"update_old_adapter", updateOldAdapter},
    {"unplug_while_waiting", unplugWhileWaiting},
    {"timed_unplug_and_plug", timedUnplugAndPlug},
    {"unplug_mid_erase", unplugMidErase},
    {"unplug_mid_read", unplugMidRead},
    {"unplug_mid_write", unplugMidWrite},
    {"unplug_mid_update", unplugMidUpdate},
    {"close_mid_erase", closeMidErase},
    {"second_instance", secondInstance},
    {"escape_and_enter", escapeAndEnter},
    {"cancelled_dialogs", cancelledDialogs},
    {"read_over_existing_file", readOverExistingFile},
    {"read_overwrite_question", readOverwriteQuestion},
    {"write_refused_block", writeRefusedBlock},
    {"verify_mismatch", verifyMismatch},
    {"read_bad_checksum", readBadChecksum},
    {"silent_board", silentBoard},
    {"two_adapters", twoAdapters},
    {"foreign_devices_ignored", foreignDevicesIgnored},
    {"hover_description", hoverDescription},
    {"banner_cycle", bannerCycle},
    {"update_write_fails", updateWriteFails},
    {"read_truncated_answer", readTruncatedAnswer},
    {"log_trim", logTrim},
    {"library_missing", libraryMissing},
    {"library_other_processor", libraryForOtherProcessor},
    {"library_system_first", librarySystemFirst},
    {"library_beside_program", libraryBesideProgram},
    {"close_during_save_dialog", closeDuringSaveDialog},
    {"close_during_open_dialog", closeDuringOpenDialog},
    {"repeated_close", repeatedClose},
    {"image_file_saves", imageFileSaves},
    {"repair_after_cut_update", repairAfterCutUpdate},
    {"foreign_blank_chip_not_probed", foreignBlankChipNotProbed},
    {"display_96", display96},
    {"display_120", display120},
    {"display_144", display144},
    {"display_192", display192},
    {"chip_erase", chipErase},
    {"chip_read", chipRead},
    {"chip_write", chipWrite},
    {"soak", soak},
};

}  // namespace

const Scenario *scenarios(size_t &count) {
    count = sizeof SCENARIOS / sizeof SCENARIOS[0];
    return SCENARIOS;
}
