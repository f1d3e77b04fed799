// The printer-status work StartDocPort does once the device document is open.
#pragma once

#include "port/port_record.h"

constexpr char INK_REPORTING_MODEL[] = "KP-210S";

void JobStartExchange(PortRecord* record);
