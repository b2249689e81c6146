// Resource and command ids of morvin.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDI_DRAG 129
#define IDD_ABOUTBOX 100
#define IDC_HOMEPAGE 1000

#define ID_VIEW_FIT 32771
#define ID_VIEW_FULLSCREEN 32772
#define ID_PLAY_PLAY 32773
#define ID_PLAY_QUICK 32774
#define ID_PLAY_PAUSE 32775
#define ID_PLAY_STOP 32776
#define ID_PLAY_LOOP 32777
#define ID_SEEKBAR 32779
#define ID_APP_EXIT 0xE141
#define ID_APP_ABOUT 0xE140
