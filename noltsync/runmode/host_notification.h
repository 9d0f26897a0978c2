// Tells the host, and from the service the command agents of every logged-on user, that a sync
// brought new data.
#pragma once
#include <cstdint>

struct ModletContext;

// Posts MODLET_MSG_NOTIFY (0x433) with `argument` to the master thread when there is new data
// and an argument; from the service signals "NOLTCMD_SYNC_EVENT_<provider>_<user>" of each
// logged-on user; signals the host's new-data event when there is new data.
void NotifyNoltcmdSync(const ModletContext& context, bool newData, intptr_t argument);
