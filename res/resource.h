// Identifiers of the program's resources, shared by quorvel.rc and the code.
#pragma once

// Dialogs
#define IDD_MAIN 101

// Controls
#define IDC_TEMPERATURE 1010

// Icon groups
#define IDI_WARM 104
#define IDI_COLD 105
#define IDI_NOREADING 106

// Menus (106 as well: a menu and an icon are told apart by resource type)
#define IDR_TRAYMENU 106

// Menu commands
#define ID_SHOWHIDE 1
#define ID_CLOSE 2
