// Resource ids of the windows' pictures (PNG with alpha, sizes given at 100 %), shared by the C++ code and
// the resource script built from assets/pictures. Plain #defines, so windres reads them too.
// Pictures with states keep them in a fixed order from the first id: normal, hot (pointer
// over), pressed, disabled; add IDB_STATE_* to the first id.
#pragma once

// Every picture is stored at each display scale of kPictureScales (DpiScale.h): 100 % under
// its id, the larger ones under id + IDB_SCALE_STEP times the scale's index.
#define IDB_SCALE_STEP 1000

#define IDB_STATE_NORMAL 0
#define IDB_STATE_HOT 1
#define IDB_STATE_PRESSED 2
#define IDB_STATE_DISABLED 3

// Machine pictures of the main window, 145 x 134, transparent.
#define IDB_MACHINE_NOTEBOOK 200
#define IDB_MACHINE_DESKTOP 201
// Machine pictures of the About window, 65 x 65, transparent.
#define IDB_ABOUT_NOTEBOOK 202
#define IDB_ABOUT_DESKTOP 203

// Main window banner: left 360 x 130, middle 16 x 130 (stretched between), right 90 x 130.
#define IDB_BANNER_LEFT 210
#define IDB_BANNER_MIDDLE 211
#define IDB_BANNER_RIGHT 212

// Banner button pictures, 48 x 48, four states each from the first id.
#define IDB_BANNER_MENU 220
#define IDB_BANNER_ABOUT 224
#define IDB_BANNER_HELP 228

// Action image-button background, 104 x 24, four states from the first id.
#define IDB_BUTTON_FACE 240

// Close button of the About window, 23 x 14, four states from the first id.
#define IDB_ABOUT_CLOSE 250

// Message box pictures, 68 x 64, transparent, on the white body.
#define IDB_MSG_ERROR 260
#define IDB_MSG_INFO 261
#define IDB_MSG_WARNING 262

// About window background 457 x 321, and the maker's logo 165 x 45.
#define IDB_ABOUT_BACKGROUND 270
#define IDB_ABOUT_LOGO 271
