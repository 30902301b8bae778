#pragma once
// The system's reason for a failed file operation, in the interface's language.

#include <QString>

namespace controls {

// "Нет места на устройстве" for ENOSPC, "Отказано в доступе" for EACCES, ...;
// the system's own words for a reason without a Russian text here.
QString systemReason(int error);

} // namespace controls
