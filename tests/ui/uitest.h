#pragma once

// Resource ids of the toolkit tests' own resources (uitest.rc).
#define IDS_GREETING 1
#define IDS_LONG 2
#define IDS_MISSING 3
#define IDS_NEXT_BLOCK 17
#define IDS_GERMAN_ONLY 40
#define IDS_BRITISH_ONLY 60

#define IDR_GERMAN_DATA 300

#define IDI_TEST 101

#define IDV_FIXED_ONLY 2
#define IDV_ENGLISH_ONLY 3
#define IDV_NO_MINOR 4

#define IDD_EXTENDED 200
#define IDD_CLASSIC 201
#define IDD_NO_FONT 202

#define IDC_TEXT 1001
#define IDC_CHECK 1002
#define IDC_LABEL 1003
