// Resources of the framework's window tests.
#pragma once

#define IDD_PROBE 200
#define IDC_PROBE_EDIT 1001
#define IDC_PROBE_CLOSE 1000
