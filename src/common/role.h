#pragma once

#include <QString>

// Which part this program plays. A program alone (single) is always the one that works; of a
// standby pair, the master works and the backup (or one found faulty) keeps warm and stays silent.
enum class TRole { Single, Master, Backup, Fault };

namespace Role {
// As the command line and the status name it: single, master, backup, fault.
QString Name(TRole role);
// As the operator reads it: 单机, 主用, 备用, 故障.
QString Text(TRole role);
// From Name(); false for anything else.
bool Parse(const QString &name, TRole *role);
// Whether this program may send on its links and run notifications.
inline bool Works(TRole role) { return role == TRole::Single || role == TRole::Master; }
} // namespace Role
