// The panel of a Quorlix database, without reading a filing again.
#pragma once

#include "quorlix_schedules.h"
#include "schedules/schedule_run.h"

// quorlix_write_panel_of_database, with its arguments checked (a path and a write callback).
// The panel takes settings' vintage, cell guard and tag column cap.
int WritePanelOfDatabase(const char* pszDatabasePath, const TableSettings& settings, QUORLIX_WRITE_FN write,
                         void* pContext, QUORLIX_DATABASE_SUMMARY& summary);
