// Identifiers of the saver's resources, shared by the resource script and the code.
#pragma once

#define IDS_SAVER_NAME 1
#define IDI_SAVER 100
#define IDB_ABOUT_PICTURE 101
#define IDB_PREVIEW_PICTURE 102
#define IDR_CLIP 111
#define IDD_ABOUT 2003
