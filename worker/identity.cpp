// Who the adapter is, and what the info box and the log say about it.
#include <cstring>

#include "worker/window_ops.h"
#include "worker/worker.h"

AdapterClass classifyUsbId(uint32_t usbId) {
    if (usbId == USB_ID_CURRENT) return ADAPTER_ID_CURRENT;
    if (usbId == USB_ID_OLD) return ADAPTER_ID_OLD;
    return ADAPTER_ID_INVALID;
}

bool identifyAdapter(const Link &link, AdapterIdentity &identity) {
    memset(identity.description, 0, sizeof identity.description);
    char serial[17] = {};
    uint32_t usbId = 0;
    if (link.d2xx->getDeviceInfo(link.channels.channelA, nullptr, &usbId, serial,
                                 identity.description, nullptr) != FT_OK)
        return false;
    identity.description[sizeof identity.description - 1] = '\0';
    identity.usbId = usbId;
    identity.adapterClass = link.adapterDamaged ? ADAPTER_ID_DAMAGED : classifyUsbId(usbId);

    // The library names channel A "<product> A"; the info box shows the product.
    const size_t length = strlen(identity.description);
    if (length >= 2 && strcmp(identity.description + length - 2, " A") == 0)
        identity.description[length - 2] = '\0';
    return true;
}

void announceAdapter(const Worker &w, const AdapterIdentity &identity) {
    setTypeLabel(w, identity.description);
    logText(w, "Found Kesta OBD1 EMU [%04X/%04X].\r\nConnecting... ",
            unsigned(identity.usbId >> 16), unsigned(identity.usbId & 0xFFFF));
}

namespace {

// The channel's COM port number, or 0 when the system gave it none we can show.
unsigned comPortOf(const Link &link, FT_HANDLE channel) {
    if (!channelOpen(channel)) return 0;
    int32_t port = -1;
    if (link.d2xx->getComPortNumber(channel, &port) != FT_OK) return 0;
    const uint32_t number = uint32_t(port);
    return number >= 1 && number <= 255 ? number : 0;
}

void reportPort(const Worker &w, InfoLabel label, const char *logFormat, FT_HANDLE channel) {
    const unsigned port = comPortOf(w.link, channel);
    if (port == 0) {
        setInfoLabel(w, label, "%s", "");
        return;
    }
    setInfoLabel(w, label, "COM%u", port);
    logText(w, logFormat, port);
}

}  // namespace

void reportConnection(const Worker &w, const BoardStatus &status, const AdapterIdentity &identity) {
    if (status.answered) {
        const unsigned major = status.version >> 8, minor = status.version & 0xFF;
        setInfoLabel(w, LABEL_OSTRICH_VERSION, "Ver. %02X.%02X", major, minor);
        logText(w, "Ostrich Ver. %02X.%02X.\r\n", major, minor);
        reportPort(w, LABEL_RTP_PORT, "RTP port:\t\tCOM%u.\r\n", w.link.channels.channelA);
        reportPort(w, LABEL_DATA_PORT, "Datalog port:\tCOM%u.\r\n", w.link.channels.channelB);
    }
    logText(w, "---\r\n");
    if (identity.adapterClass == ADAPTER_ID_INVALID)
        logText(w, "Invalid USBID.\r\nThe problem will be fixed after update.\r\n");
    else if (identity.adapterClass == ADAPTER_ID_OLD)
        logText(w, "Kesta OBD1 EMU needs an update.\r\n");
    else if (identity.adapterClass == ADAPTER_ID_DAMAGED)
        logText(w, "Damaged adapter configuration.\r\nThe problem will be fixed after update.\r\n");
}

void clearAdapterInfo(const Worker &w) {
    setTypeLabel(w, "");
    setInfoLabel(w, LABEL_OSTRICH_VERSION, "%s", "");
    setInfoLabel(w, LABEL_RTP_PORT, "%s", "");
    setInfoLabel(w, LABEL_DATA_PORT, "%s", "");
}
