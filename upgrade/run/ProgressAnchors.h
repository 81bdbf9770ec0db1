// The progress values a run reports: the marks between its phases, and the
// range each image write owns while it streams.
#pragma once

namespace upgrade {

constexpr int kProgressBackup = 3;      // the card identified, its data about to be saved
constexpr int kProgressSwitch = 6;      // just before the card leaves its firmware
constexpr int kProgressImages = 10;     // the programmer runs; images follow
constexpr int kProgressReset = 98;      // every image written; the card restarts
constexpr int kProgressRestore = 99;    // the new firmware answers; the data goes back

// Progress anchors of the image writes.
constexpr int DLQSBL = 13;
constexpr int DLOEM = 14;
constexpr int DLAMSS = 25;
constexpr int DLAPPSBOOT = 26;
constexpr int DLBOOTIMG = 28;
constexpr int DLSYSTEMIMG = 90;
constexpr int DLUSERDATA = 94;
constexpr int DLSPLASH = 95;
constexpr int DLRECOVERY = 96;
constexpr int DLCEFS = 97;

// The images that stream with a progress range of their own.
struct ImageRange {
    const char* file;
    int fromPercent;
    int toPercent;
};

constexpr ImageRange kImageRanges[] = {
    {"oemsbl.mbn", DLQSBL, DLOEM},         {"amss.mbn", DLOEM, DLAMSS},
    {"boot.img", DLAPPSBOOT, DLBOOTIMG},   {"system.img", DLBOOTIMG, DLSYSTEMIMG},
    {"userdata.img", DLSYSTEMIMG, DLUSERDATA}, {"splash.img", DLUSERDATA, DLSPLASH},
    {"recovery.img", DLSPLASH, DLRECOVERY}, {"cefs.mbn", DLRECOVERY, DLCEFS},
};

}  // namespace upgrade
