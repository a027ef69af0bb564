// Identifiers shared by the resource script and the dialog's code. Plain
// #defines, since the resource compiler reads this file too.
#pragma once

#define IDD_MAIN_DIALOG 103
#define IDI_KESTRUNE 107

#define IDC_PASSWORD 1000
#define IDC_SHA1 1001
#define IDC_SHA256 1002
#define IDC_SHA384 1003
#define IDC_SHA512 1004
#define IDC_MD5 1005
#define IDC_DES 1006
#define IDC_3DES 1007
#define IDC_AES128 1008
#define IDC_AES192 1009
#define IDC_AES256 1010
