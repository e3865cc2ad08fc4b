// Resource identifiers of the module. Plain macros: windres reads this file too.
#pragma once

// The "Information" page: dialog template and title string.
#define IDD_INFORMATION 100
#define IDS_INFORMATION_TITLE 101

// The value controls of the page, one per row, in row order.
#define IDC_FORMAT 1000
#define IDC_CHANNELS 1001
#define IDC_CHANNEL_MODE 1002
#define IDC_SAMPLE_RATE 1003
#define IDC_BYTES_PER_SECOND 1004
#define IDC_BITS_PER_SAMPLE 1005
#define IDC_DURATION 1006
